#pragma once

#include <string>

namespace vistrelle {

// The user's well-known folders, by the XDG base-directory and user-dirs rules.
// Each reads the environment at the moment it is called.
class UserDirectories {
 public:
  // $HOME, else the password database's home.
  static std::string home();
  // XDG_DOCUMENTS_DIR from $XDG_CONFIG_HOME/user-dirs.dirs, else $HOME/Documents.
  static std::string documents();
  // $XDG_CONFIG_HOME, else $HOME/.config.
  static std::string config();
  // $XDG_CACHE_HOME, else $HOME/.cache.
  static std::string caches();
  // $XDG_DATA_HOME, else $HOME/.local/share.
  static std::string dataHome();

  // Parses one user-dirs.dirs text for `key` (e.g. "XDG_DOCUMENTS_DIR"):
  // `KEY="$HOME/Path"` lines, with $HOME expanded; empty when absent.
  static std::string parseUserDirsFile(const std::string& text, const std::string& key,
                                       const std::string& home);
};

// Creates `path` and its missing parents with `mode`; true when it exists as a
// folder afterwards.  Sets `error` to the reason otherwise.
bool makeDirectories(const std::string& path, unsigned mode, std::string* error);

}  // namespace vistrelle
