// What a repair cannot carry to the account it makes anew. The new account
// gets a new SID, so whatever the old SID's keys protect stays locked:
// files encrypted with the account's own certificate, and the secrets its
// data-protection master keys guard (the credential store, saved browser
// passwords). Windows also forgets the file-type choices, which it ties to
// the SID. No system call here: the walk hands each file in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint32_t kEncryptedAttribute = 0x4000;   // FILE_ATTRIBUTE_ENCRYPTED

enum class CarryLoss {
    None,
    EncryptedFile,   // opens only with the old account's key
    MasterKey,       // a data-protection master key of the old SID
};

// What one file of the profile is to the repair. `folders` are the names
// from the profile folder down to the file's folder, `name` the file's
// name, `sidString` the account's SID as the profile list names it.
// Master keys lie in AppData\Roaming\Microsoft\Protect\<SID> and are named
// by a GUID; their "Preferred" pointer is no key.
CarryLoss ClassifyProfileFile(const std::vector<std::wstring>& folders, const wchar_t* name, uint32_t attributes,
                              const wchar_t* sidString);

struct CarryCounts {
    uint64_t encryptedFiles = 0;
    uint64_t masterKeys = 0;
    bool complete = true;   // every folder could be listed
};

// The operator's warnings for the counts, one line each, only those that
// apply; the file-type choices always do.
std::vector<std::wstring> CarryWarnings(const CarryCounts& counts);
