// Linked into every test, benchmark and tool program: from its start to its end the
// program's settings are in a folder of its own, and a write that would reach the user's
// settings ends it with a message.
#include "settings/SettingsSandbox.h"

namespace {

const vantorel::TSettingsSandbox kProcessSettings;

} // namespace
