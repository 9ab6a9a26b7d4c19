#include <windows.h>
// after windows.h, which it needs
#include <aclapi.h>

#include "owned_win32.h"

namespace kvx {

bool OwnedByThisUser(HANDLE h) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR described = nullptr;
    if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &described) != ERROR_SUCCESS)
        return false;
    bool mine = false;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        alignas(void*) BYTE user[256], creator[256];
        DWORD n = 0;
        if (GetTokenInformation(token, TokenUser, user, sizeof user, &n))
            mine = EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
        if (!mine && GetTokenInformation(token, TokenOwner, creator, sizeof creator, &n))
            mine = EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(creator)->Owner);
        CloseHandle(token);
    }
    LocalFree(described);
    return mine;
}

}  // namespace kvx
