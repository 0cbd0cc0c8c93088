#pragma once
// A main window that shows nothing, for the programs that run the
// installer's procedures without one (the Win32 test program, the transfer
// benchmark): every display element takes its value and forgets it.

#include <cstdint>
#include <string>

#include "seam/main_view.h"

namespace oq {

class NoView final : public MainView {
 public:
  void SetCaption(const std::wstring&) override {}
  std::wstring Caption() const override { return {}; }
  void SetLeft(int) override {}
  void SetTop(int) override {}
  int Left() const override { return 0; }
  int Top() const override { return 0; }
  Extent OuterSize() const override { return {}; }
  Extent ScreenSize() const override { return {}; }
  void SetLabel(Label, const std::wstring&) override {}
  std::wstring LabelText(Label) const override { return {}; }
  void SetPathText(const std::wstring&) override {}
  std::wstring PathText() const override { return {}; }
  void SetInstallCaption(const std::wstring&) override {}
  std::wstring InstallCaption() const override { return {}; }
  void SetButtonEnabled(Button, bool) override {}
  bool ButtonEnabled(Button) const override { return true; }
  void SetProgressVisible(bool) override {}
  void SetProgressMax(int) override {}
  void SetProgressPosition(int) override {}
  void SetProgressWithin(int, uint64_t, uint64_t) override {}
  void SetPickerFolder(const std::wstring&) override {}
  std::wstring PickerFolder() const override { return {}; }
  void RequestTermination() override {}
  bool TerminationRequested() const override { return false; }
  void CloseWindow() override {}
};

}  // namespace oq
