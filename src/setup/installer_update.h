#pragma once
// The installer keeping itself current: the copy in the install folder,
// which the desktop shortcut starts, is replaced by the installer a signed
// release offers when that one is newer, so that fixes and the release
// keys it trusts reach every PC already installed.

#include <optional>
#include <string>

#include "setup/release_manifest.h"

namespace oq {

enum class InstallerAction {
  None,
  ReplaceSelf,  // this program is the copy: the new one takes its place and runs instead
  ReplaceCopy,  // another installer runs: the copy in the install folder is replaced
};

struct InstallerFacts {
  bool signedBuild = false;                 // an unsigned build never updates itself
  std::optional<ReleaseInstaller> offered;  // from a manifest that was accepted
  std::wstring running;                     // this program's four-part version
  bool runningAsCopy = false;
  // The copy's version when a copy is there (empty text: it carries none).
  std::optional<std::wstring> copy;
};

// Only ever to a newer installer: never the same or an older one, for
// either the running program or the copy.
InstallerAction DecideInstallerAction(const InstallerFacts& facts);

}  // namespace oq
