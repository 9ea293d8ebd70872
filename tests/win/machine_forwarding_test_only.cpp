// TEST-ONLY, TEMPORARY: forwards the one machine service these tests reach
// (account-name lookup) to the system until the simulated machine's library
// is linked into the tests instead. Never linked into the product.
#include "platform/machine.h"

namespace machine {

BOOL LookupAccountNameW(LPCWSTR lpSystemName, LPCWSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                        LPWSTR ReferencedDomainName, LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse)
{
    return ::LookupAccountNameW(lpSystemName, lpAccountName, Sid, cbSid, ReferencedDomainName,
                                cchReferencedDomainName, peUse);
}

}  // namespace machine
