// Linked into the development tools: they never write the user's settings. A folder that
// the calling script names (VANTOREL_REGISTRY_DIR) is used as it is.
#include "settings/SettingsSandbox.h"

namespace {

const vantorel::TSettingsSandbox kProcessSettings(vantorel::TSettingsSandbox::TNamed::Keep);

} // namespace
