#pragma once
// The main window as the setup logic sees it: the display elements through
// which every procedure shows its state. The Win32 window implements it; the
// unit tests record it.

#include <cstdint>
#include <string>

namespace oq {

enum class Label { Title, OS, ExPath, Ex, XLL, Path };
enum class Button { Install, Uninstall, Close };

struct Extent {
  int width = 0;
  int height = 0;
};

class MainView {
 public:
  virtual ~MainView() = default;

  virtual void SetCaption(const std::wstring& text) = 0;
  virtual std::wstring Caption() const = 0;
  // Screen coordinates of the window's outer left and top edge.
  virtual void SetLeft(int left) = 0;
  virtual void SetTop(int top) = 0;
  virtual int Left() const = 0;
  virtual int Top() const = 0;
  virtual Extent OuterSize() const = 0;   // the whole window, frame included
  virtual Extent ScreenSize() const = 0;

  virtual void SetLabel(Label label, const std::wstring& text) = 0;
  virtual std::wstring LabelText(Label label) const = 0;

  // edPath, the install folder; the user may edit it.
  virtual void SetPathText(const std::wstring& text) = 0;
  virtual std::wstring PathText() const = 0;

  // btInstall reads "Install" or "Update".
  virtual void SetInstallCaption(const std::wstring& text) = 0;
  virtual std::wstring InstallCaption() const = 0;
  virtual void SetButtonEnabled(Button button, bool enabled) = 0;
  virtual bool ButtonEnabled(Button button) const = 0;

  // P, the progress bar.
  virtual void SetProgressVisible(bool visible) = 0;
  virtual void SetProgressMax(int maximum) = 0;
  virtual void SetProgressPosition(int position) = 0;
  // Within the step that begins at `position`: the share `done` of `total`
  // of the way to the next one (a download's bytes).
  virtual void SetProgressWithin(int position, uint64_t done, uint64_t total) = 0;

  // The folder the folder picker opens in.
  virtual void SetPickerFolder(const std::wstring& folder) = 0;
  virtual std::wstring PickerFolder() const = 0;

  // Asks the program to end once the current handler has returned to the
  // event loop. A request made during start-up ends the program before the
  // window is shown.
  virtual void RequestTermination() = 0;
  virtual bool TerminationRequested() const = 0;
  // Closes the main window, which ends the program.
  virtual void CloseWindow() = 0;
};

}  // namespace oq
