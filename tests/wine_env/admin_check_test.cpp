// The Wine prefix that the Win32 tests run in: its process is an administrator, as the
// setup's own checks and the tests that write to the machine's folders assume. A check of
// the environment, not of the product: the CTest fixture wine_env, run before the others.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(Administrators, ThisProcessUnderWineIsAnAdministrator) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS,
                                       0, 0, 0, 0, 0, 0, &admins));
  BOOL member = FALSE;
  BOOL ok = CheckTokenMembership(nullptr, admins, &member);
  FreeSid(admins);
  ASSERT_TRUE(ok) << GetLastError();
  EXPECT_TRUE(member);
}

}  // namespace
