// Handlers whose procedures are not built yet. Each leaves the machine and
// the window exactly as they were.

#include "setup/main_form.h"

namespace oq {

void TfmMain::btInstallClick() {}
void TfmMain::btUninstallClick() {}
void TfmMain::edFolderClick() {}
void TfmMain::ReRegister() {}

}  // namespace oq
