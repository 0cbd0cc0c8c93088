#pragma once
// The installer's main window over Win32: a fixed dialog-frame window with the
// banner on the left and the information panel on the right, implementing the
// display elements the setup logic writes to.
//
// The labels and the progress bar are standard controls; the buttons and the
// path box are the rounded custom-drawn ones. Each is created from the
// layout table in main_window.cpp.

#include <windows.h>

#include <string>

#include "seam/main_view.h"
#include "ui/gdi_draw.h"

namespace oq {

// Control IDs of the main window's children. They are the stable names by
// which another process (a test driver) finds a control: GetDlgCtrlID on a
// child found by EnumChildWindows. Never renumber them.
enum MainControlId : int {
  kIdImage1 = 1001,      // banner picture
  kIdInfoPanel = 1002,   // pnInfo, the parent of every control below
  kIdTitle = 1003,       // lbTitle
  kIdOS = 1004,          // lbOS
  kIdEx = 1005,          // lbEx
  kIdPath = 1006,        // lbPath
  kIdXLL = 1007,         // lbXLL
  kIdExPath = 1008,      // lbExPath
  kIdProgress = 1009,    // P
  kIdUninstall = 1010,   // btUninstall
  kIdInstall = 1011,     // btInstall
  kIdClose = 1012,       // btClose
  kIdPathEdit = 1013,    // edPath
  kIdFolderButton = 1014, // zButton1
  kIdFolderPicture = 1015  // Image2, the folder icon over the whole of zButton1
};

// What the window hands on. TfmMain is behind it in the program; tests put a
// recorder there, so the window can be exercised without the setup logic.
class MainWindowEvents {
 public:
  virtual ~MainWindowEvents() = default;
  // Runs inside WM_CREATE, after every control exists and before the window
  // is ever shown.
  virtual void OnCreate() = 0;
  virtual void OnInstallClick() = 0;
  virtual void OnUninstallClick() = 0;
  virtual void OnCloseClick() = 0;
  virtual void OnFolderClick() = 0;
};

class MainWindow final : public MainView {
 public:
  // Client area of the window, fixed.
  static constexpr int kClientWidth = 687;
  static constexpr int kClientHeight = 314;

  explicit MainWindow(HINSTANCE instance);
  // Destroys the window when it still exists.
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window hidden at 0,0; its WM_CREATE builds the controls and
  // then calls events.OnCreate(). `events` must outlive the window. False when
  // the window could not be created.
  bool Create(MainWindowEvents& events);
  HWND Handle() const { return hwnd_; }
  HINSTANCE Instance() const { return instance_; }
  HWND Control(MainControlId id) const;
  bool IsVisible() const;

  // True once the program is to end: termination was requested, or the
  // window was asked to close. A window that ends during creation must never
  // be shown.
  bool EndPending() const { return endPending_; }

  // Shows the window and runs the event loop until the window is gone.
  // Does nothing when the end is already pending.
  void ShowAndRun(int showCommand);

  // The hourglass over the whole window while the logic is busy.
  void SetBusy(bool busy);
  bool Busy() const { return busy_; }


  // ------------------------------------------------ MainView
  void SetCaption(const std::wstring& text) override;
  std::wstring Caption() const override;
  void SetLeft(int left) override;
  void SetTop(int top) override;
  int Left() const override;
  int Top() const override;
  Extent OuterSize() const override;
  Extent ScreenSize() const override;
  void SetLabel(Label label, const std::wstring& text) override;
  std::wstring LabelText(Label label) const override;
  void SetPathText(const std::wstring& text) override;
  std::wstring PathText() const override;
  void SetInstallCaption(const std::wstring& text) override;
  std::wstring InstallCaption() const override;
  void SetButtonEnabled(Button button, bool enabled) override;
  bool ButtonEnabled(Button button) const override;
  void SetProgressVisible(bool visible) override;
  void SetProgressMax(int maximum) override;
  void SetProgressPosition(int position) override;
  void SetProgressWithin(int position, uint64_t done, uint64_t total) override;
  void SetPickerFolder(const std::wstring& folder) override;
  std::wstring PickerFolder() const override { return pickerFolder_; }
  void RequestTermination() override;
  bool TerminationRequested() const override { return terminationRequested_; }
  void CloseWindow() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  bool BuildControls();
  void OnCommand(int id, int code);
  // Calls into the logic with the handler depth kept, so that an end asked
  // for inside a handler waits until the handler has returned.
  template <class Call>
  void Dispatch(Call&& call);
  // Destroys the window once an end is pending and no handler is running.
  void EndIfDue();
  void MoveTo(int left, int top);
  static HWND LabelWindow(const MainWindow& w, Label label);
  HWND ButtonWindow(Button button) const;

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  MainWindowEvents* events_ = nullptr;
  gdi::Font font_;       // "Segoe UI", -12
  gdi::Font titleFont_;  // "Segoe UI", -16, bold
  gdi::Bitmap banner_;
  std::wstring pickerFolder_;
  static constexpr int kProgressSubsteps = 100;
  int handlerDepth_ = 0;
  bool creating_ = false;
  bool terminationRequested_ = false;
  bool endPending_ = false;
  bool busy_ = false;
};

}  // namespace oq
