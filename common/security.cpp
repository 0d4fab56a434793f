#include "common/security.h"
#include <aclapi.h>

namespace {

bool MakeWellKnownSid(WELL_KNOWN_SID_TYPE kind, BYTE *sid)
{
    DWORD size = SECURITY_MAX_SID_SIZE;
    return CreateWellKnownSid(kind, NULL, sid, &size) != FALSE;
}

// The accounts whose rights over a directory are nobody else's business.
struct TTrusted {
    BYTE Administrators[SECURITY_MAX_SID_SIZE];
    BYTE System[SECURITY_MAX_SID_SIZE];
    BYTE TrustedInstaller[SECURITY_MAX_SID_SIZE];
    BYTE CreatorOwner[SECURITY_MAX_SID_SIZE];  // stands for nobody outside inherited entries
    BYTE OwnerRights[SECURITY_MAX_SID_SIZE];
    BYTE RunningUser[SECURITY_MAX_SID_SIZE];
    bool HaveRunningUser;
};

bool MakeTrustedInstallerSid(BYTE *sid)
{
    static const DWORD service[] = {80, 956008885, 3418522649u, 1831038044, 1853292631, 2271478464u};
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!InitializeSid(sid, &nt, 6))
        return false;
    for (int i = 0; i < 6; i++)
        *GetSidSubAuthority(sid, i) = service[i];
    return true;
}

// The user of this process, when the process acts as an administrator.
bool GetRunningAdministrator(BYTE *sid, const BYTE *administrators)
{
    BOOL member = FALSE;
    if (!CheckTokenMembership(NULL, (PSID)administrators, &member) || !member)
        return false;
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    bool ok = GetTokenAccount(token, sid);
    CloseHandle(token);
    return ok;
}

bool MakeTrusted(TTrusted *trusted)
{
    if (!MakeWellKnownSid(WinBuiltinAdministratorsSid, trusted->Administrators) ||
        !MakeWellKnownSid(WinLocalSystemSid, trusted->System) || !MakeTrustedInstallerSid(trusted->TrustedInstaller) ||
        !MakeWellKnownSid(WinCreatorOwnerSid, trusted->CreatorOwner) ||
        !MakeWellKnownSid(WinCreatorOwnerRightsSid, trusted->OwnerRights))
        return false;
    trusted->HaveRunningUser = GetRunningAdministrator(trusted->RunningUser, trusted->Administrators);
    return true;
}

bool IsTrusted(const TTrusted *trusted, PSID sid)
{
    return EqualSid(sid, (PSID)trusted->Administrators) || EqualSid(sid, (PSID)trusted->System) ||
           EqualSid(sid, (PSID)trusted->TrustedInstaller) || EqualSid(sid, (PSID)trusted->CreatorOwner) ||
           (trusted->HaveRunningUser && EqualSid(sid, (PSID)trusted->RunningUser));
}

// Rights that let their holder take a directory, or what it holds, out of its place.
const ACCESS_MASK RemovingRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD | GENERIC_ALL;

// Rights that let their holder put a new entry into a directory.
const ACCESS_MASK AddingRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | GENERIC_WRITE;

bool IsGuardedBy(const TTrusted *trusted, PSID owner, const ACL *dacl, ACCESS_MASK rights)
{
    if (owner == NULL || dacl == NULL)
        return false;  // no owner known, or a null DACL, which lets everybody in
    bool trustedOwner = IsTrusted(trusted, owner);
    bool ownerRightsGiven = false;
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        ACE_HEADER *header = NULL;
        if (!GetAce((PACL)dacl, i, (void **)&header))
            return false;
        if (header->AceFlags & INHERIT_ONLY_ACE)
            continue;  // for what is made inside, not for the directory itself
        if (header->AceType == ACCESS_DENIED_ACE_TYPE || header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE ||
            header->AceType == SYSTEM_AUDIT_ACE_TYPE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false;  // an entry of a kind not read here
        ACCESS_ALLOWED_ACE *ace = (ACCESS_ALLOWED_ACE *)header;
        PSID sid = (PSID)&ace->SidStart;
        bool isOwnerRights = EqualSid(sid, (PSID)trusted->OwnerRights);
        ownerRightsGiven = ownerRightsGiven || isOwnerRights;
        bool sidTrusted = isOwnerRights ? trustedOwner : IsTrusted(trusted, sid);
        if ((ace->Mask & rights) && !sidTrusted)
            return false;
    }
    // An owner may change the DACL, unless an owner-rights entry says what the
    // owner may do instead.
    return trustedOwner || ownerRightsGiven;
}

}  // namespace

bool GetTokenAccount(HANDLE token, BYTE *sid)
{
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = 0;
    return GetTokenInformation(token, TokenUser, &info, sizeof info, &size) &&
           CopySid(SECURITY_MAX_SID_SIZE, sid, info.user.User.Sid);
}

bool MakeClosedDescriptor(TClosedDescriptor *closed)
{
    PACL acl = (PACL)closed->Acl;
    const DWORD inherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    return MakeWellKnownSid(WinBuiltinAdministratorsSid, closed->Administrators) &&
           MakeWellKnownSid(WinLocalSystemSid, closed->System) &&
           MakeWellKnownSid(WinCreatorOwnerRightsSid, closed->OwnerRights) &&
           InitializeAcl(acl, sizeof closed->Acl, ACL_REVISION) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_ALL_ACCESS, (PSID)closed->Administrators) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, inherited, FILE_ALL_ACCESS, (PSID)closed->System) &&
           AddAccessAllowedAceEx(acl, ACL_REVISION, 0, READ_CONTROL, (PSID)closed->OwnerRights) &&
           InitializeSecurityDescriptor(&closed->Descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&closed->Descriptor, TRUE, acl, FALSE) &&
           SetSecurityDescriptorControl(&closed->Descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) &&
           SetSecurityDescriptorOwner(&closed->Descriptor, (PSID)closed->Administrators, FALSE);
}

bool CloseToOthers(HANDLE directory)
{
    TClosedDescriptor closed;
    if (!MakeClosedDescriptor(&closed))
        return false;
    // Set on the object alone (no walk of what it holds, as the named-object
    // calls would make); without the owner when it may not be given.
    const SECURITY_INFORMATION dacl = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    return SetKernelObjectSecurity(directory, dacl | OWNER_SECURITY_INFORMATION, &closed.Descriptor) ||
           SetKernelObjectSecurity(directory, dacl, &closed.Descriptor);
}

bool IsGuardedDirectory(HANDLE directory, bool againstAdding)
{
    TTrusted trusted;
    PSID owner = NULL;
    PACL dacl = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!MakeTrusted(&trusted) ||
        GetSecurityInfo(directory, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        NULL, &dacl, NULL, &descriptor) != ERROR_SUCCESS)
        return false;
    bool guarded = IsGuardedBy(&trusted, owner, dacl, againstAdding ? RemovingRights | AddingRights : RemovingRights);
    LocalFree(descriptor);
    return guarded;
}
