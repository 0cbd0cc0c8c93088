#include <gtest/gtest.h>

#include "fake_machine.h"
#include "setup/main_form.h"

namespace oq {
namespace {

TEST(FolderPickerTest, PickedFolderGetsTheInstallFolderInside) {
  struct Case {
    std::optional<std::wstring> picked;
    bool lumentrove;
    std::wstring expected;
  };
  const Case cases[] = {
      {L"C:\\", false, L"C:\\ORBITQuarry\\"},
      {L"D:\\Tools", false, L"D:\\Tools\\ORBITQuarry\\"},
      {L"D:\\Tools", true, L"D:\\Tools\\ORBITQuarry\\"},  // the same word for both brands
      {L"\\\\server\\share\\My Add-ins", false, L"\\\\server\\share\\My Add-ins\\ORBITQuarry\\"},
      {std::nullopt, false, L"typed by the user"},  // cancelled: nothing changes
  };
  for (const Case& c : cases) {
    test::FakeMachine m;
    test::FakeView view;
    TfmMain form{m.machine, view, L"https://release.test/"};
    form.LT = c.lumentrove;
    view.path = L"typed by the user";
    view.pickerFolder = L"C:\\Users\\me\\AppData\\Roaming";
    m.dialogs.pickedFolders.push_back(c.picked);
    form.OnFolderClick();
    EXPECT_EQ(view.path, c.expected);
    EXPECT_EQ(m.dialogs.pickerStartFolders, (std::vector<std::wstring>{L"C:\\Users\\me\\AppData\\Roaming"}));
    EXPECT_FALSE(view.closed);
  }
}

}  // namespace
}  // namespace oq
