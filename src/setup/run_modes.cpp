// The start-up steps that decide whether the program waits for the user or
// acts by itself: the administrator warning, the "UPDATE" and "FORCE" words, the up-to-date add-in that
// is only registered again, and update mode's install at the end.

#include "services/join_text.h"
#include "services/process_utils.h"
#include "setup/brand.h"
#include "setup/main_form.h"
#include "setup/version_compare.h"
#include "setup/release_client.h"

namespace oq {

namespace {

constexpr wchar_t kUpdateWord[] = L"UPDATE";
constexpr wchar_t kForceWord[] = L"FORCE";

}  // namespace

bool TfmMain::PassAdministratorGate() {
  if (machine_.env.IsUserAdmin()) return true;
  // Closing the warning by its frame goes on like its continue button.
  if (machine_.dialogs.ShowAdminWarning(LT) != AdminWarningAnswer::Cancel) return true;
  NoteOutcome(kExitDeclined);
  view_.RequestTermination();
  return false;
}

bool TfmMain::HandleModeWord(StartupValues& v) {
  if (v.word == kUpdateWord) {
    if (!v.folder.empty() && !IsNewerVersion(v.installed, v.newest)) {
      NoteOutcome(kExitDone);
      view_.RequestTermination();
      return false;
    }
    const std::wstring product = BrandFor(LT).productName;
    while (IsProcessRunning(machine_.processes, kExcelImage)) {
      view_.SetLabel(Label::XLL, JoinText({kVersionPrefix, v.installed, L" (New Version = ", v.newest, L")"}));
      const std::wstring question = JoinText({L"\"", product,
                                              L"의 업데이트를 위해 엑셀을 종료해야 합니다.\n"
                                              L"Excel 창을 모두 닫은 후 업데이트가 진행됩니다.\n"
                                              L"업데이트를 진행하시겠습니까?\n\n",
                                              view_.LabelText(Label::XLL)});
      if (machine_.dialogs.ShowBox(question, L"Confirm", BoxIcon::Question, BoxButtons::YesNo) !=
          BoxAnswer::Yes) {
        machine_.dialogs.ShowBox(JoinText({L"업데이트 취소로 \"", product, L"\"사용에 문제가 있을 수 있습니다."}),
                                 kApplicationTitle, BoxIcon::None, BoxButtons::Ok);
        NoteOutcome(kExitDeclined);
        view_.RequestTermination();
        return false;
      }
      machine_.env.SleepMs(100);
    }
    view_.SetButtonEnabled(Button::Install, true);
    Trace(L"업데이트 실행");
    return true;
  }
  if (v.word == kForceWord) {
    view_.SetCaption(BrandFor(LT).caption);
    view_.SetPathText(v.folder);
    std::wstring ignored;
    DetectExcel(ignored);
    btInstallClick();
    view_.RequestTermination();
    return false;
  }
  return true;
}

void TfmMain::TakeUpToDateCase(const StartupValues& v) {
  view_.SetLabel(Label::XLL, JoinText({kVersionPrefix, v.installed, L" (마지막 버전입니다.)"}));
  view_.SetButtonEnabled(Button::Install, false);
  ReRegister();
  view_.CloseWindow();
}

void TfmMain::RunUpdateModeInstall(const StartupValues& v) {
  if (v.word != kUpdateWord) return;
  view_.SetButtonEnabled(Button::Install, true);
  btInstallClick();
}

}  // namespace oq
