// A build without libavformat (MSVC's, or one configured without containers): containers are
// recognised, and can't be read.
#include "container_input.h"

namespace korvala {

ContainerOpen OpenContainer(const std::string& sourceAVC, const std::string&, std::unique_ptr<ContainerInput>& input,
                            const char** message) {
  input.reset();
  InputForm form = InputForm::kElementary;
  if (!ReadInputForm(sourceAVC, form) || form == InputForm::kElementary) return ContainerOpen::kNotContainer;
  *message = kContainerUnreadableMessage;
  return ContainerOpen::kFailed;
}

}  // namespace korvala
