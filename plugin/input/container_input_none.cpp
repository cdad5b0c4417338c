// A build without libavformat (MSVC's, or one configured without containers): containers are
// recognised, and can't be read.
#include "container_input.h"

namespace korvala {

ContainerOpen OpenContainer(InputForm form, const std::string&, const std::string&,
                            std::unique_ptr<ContainerInput>& input, const char** message) {
  input.reset();
  if (form == InputForm::kElementary) return ContainerOpen::kNotContainer;
  *message = kContainerUnreadableMessage;
  return ContainerOpen::kFailed;
}

}  // namespace korvala
