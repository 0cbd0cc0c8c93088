#pragma once
// Control IDs of the main window's children. Test drivers and accessibility
// tools find the controls by these (GetDlgCtrlID), so they never change.

namespace oq {

enum ControlId : int {
  kIdImage1 = 100,   // the brand banner
  kIdInfoPanel,      // pnInfo, the parent of everything below
  kIdTitle,          // lbTitle
  kIdOS,             // lbOS
  kIdEx,             // lbEx
  kIdPathLabel,      // lbPath
  kIdXLL,            // lbXLL
  kIdExPath,         // lbExPath
  kIdProgress,       // P
  kIdUninstall,      // btUninstall
  kIdInstall,        // btInstall
  kIdClose,          // btClose
  kIdPath,           // edPath
  kIdFolderButton,   // zButton1
  kIdFolderImage,    // Image2, covering zButton1
};

}  // namespace oq
