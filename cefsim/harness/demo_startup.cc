// Linked into cef-launcher only (cefsim builds): installs the demo roles
// before main runs, so the program itself needs no change.

#include "demo_roles.h"

namespace {

const bool kDemoRolesInstalled = (cefsim::InstallDemoRoles(), true);

}  // namespace
