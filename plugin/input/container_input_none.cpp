// A build without libavformat (the MinGW one): containers are recognised and refused clearly.
#include "container_input.h"

namespace korvala {

ContainerOpen OpenContainer(const std::string& sourceAVC, const std::string&, std::unique_ptr<ContainerInput>& input,
                            const char** message) {
  input.reset();
  InputForm form = InputForm::kElementary;
  if (!ReadInputForm(sourceAVC, form) || form == InputForm::kElementary) return ContainerOpen::kNotContainer;
  *message = kContainersUnsupportedMessage;
  return ContainerOpen::kFailed;
}

}  // namespace korvala
