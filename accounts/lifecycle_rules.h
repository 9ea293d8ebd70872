// Rules of making and removing accounts that need no system call: which
// names the account database takes, the temporary password of an account
// that is signed in once to build its profile, and where a profile folder
// must lie before the elevated program may delete it.
#pragma once

#include <cstddef>
#include <cstdint>

#include <string>

#include "platform/text.h"

// Why a name typed for a new account is refused before anything is created.
enum class NewAccountNameProblem {
    None,
    Empty,
    ForbiddenCharacter,   // one of the fourteen the creation dialog lists
    TooLong,              // more than kMaxAccountNameLength characters
    OnlyDotsOrBlanks,
    RefusedCharacter,     // comma, at sign or a control character
    Reserved,             // the profile repair's temporary administrator's
};

// The name of the account the profile repair makes, uses and deletes: never
// given to another account, which the repair would take for its own.
inline constexpr wchar_t kReservedAccountName[] = L"brenwick_temp_admin";

// The account database keeps names of at most 20 characters.
inline constexpr uint32_t kMaxAccountNameLength = 20;

// The fourteen characters the creation dialog names in its refusal, in the
// order it lists them.
extern const wchar_t kForbiddenNameCharacters[];

// The first problem found, in the order of the enumeration.
NewAccountNameProblem CheckNewAccountName(const wchar_t* name);

// Why a name is refused, as the command line says it after "cannot be
// used: ": the forbidden characters listed, the limit `longest` named;
// empty for None.
std::wstring NameProblemText(NewAccountNameProblem problem, uint32_t longest);

// The system keeps local group names of at most 256 characters, and a
// group's description of as many.
inline constexpr uint32_t kMaxGroupNameLength = 256;
inline constexpr uint32_t kMaxGroupDescriptionLength = 256;

// A name for a new or renamed local group: the account names' rules, since
// groups and accounts share one set of names, with the groups' own limit.
NewAccountNameProblem CheckNewGroupName(const wchar_t* name);

// A group's description is shown in lists: at most the limit, and no control
// character that could forge or hide a line there.
bool IsUsableGroupDescription(const wchar_t* text);

// The temporary password: long and mixed, so that a complexity policy takes
// it. The program's only generator of passwords (account creation and the
// repair tool's temporary administrator both use it).
inline constexpr size_t kTemporaryPasswordLength = 24;

// Draws the password from `random` (bytes of a cryptographic source): one
// upper and one lower case letter, one digit and one symbol, the other places
// from the whole alphabet, then every place shuffled (Fisher-Yates over the
// whole password), so that no place keeps a kind. Each draw takes one byte
// and skips the bytes that would favour the first choices (rejection), so
// every draw is uniform. `password` has room for kTemporaryPasswordLength + 1
// units and is terminated. Returns the bytes used, or 0 (and an empty
// password) when they ran out first: the caller draws more and calls again.
size_t ComposeTemporaryPassword(const uint8_t* random, size_t count, wchar_t* password);

// True when the text holds an upper and a lower case letter, a digit and a
// symbol of the temporary password's alphabet.
bool HasEveryCharacterKind(const wchar_t* text);

// What is wrong with a profile folder that the program was asked to delete.
enum class ProfileFolderVerdict {
    Inside,              // strictly inside the profiles directory: may be deleted
    Empty,
    NotLocalAbsolute,    // relative, drive-relative, network or device path
    UnsafeComponent,     // wildcards, streams, control characters, trailing dots or blanks
    RootUnusable,        // the profiles directory itself is not a usable path
    IsRoot,              // the profiles directory itself
    OutsideRoot,
    Shared,              // another profile, or the public or default one, lies there
    Missing,             // nothing on disk (or not a folder)
    ReparsePoint,        // the folder or a folder above it inside the root is a link
    ProfileListUnreadable,   // the other profiles could not all be read: none may be put at risk
};

// Resolves a drive-absolute path ("C:\a\..\b", "C:/a/./b", "\\?\C:\a") to
// its plain form: separators made backslashes, empty and "." components
// dropped, ".." taking the previous component away (never above the drive),
// the drive letter upper case, no trailing backslash. Anything else is
// refused with the verdict why.
ProfileFolderVerdict NormaliseLocalPath(const wchar_t* path, WString& normalised);

// True when `inner` lies strictly below `outer` (both normalised): `outer`
// is a prefix without regard to case and a backslash follows it.
bool IsStrictlyBelow(const wchar_t* inner, const wchar_t* outer);

// The verdict on a profile folder path (environment variables already
// expanded) against the profiles directory, before the disk is looked at;
// `normalised` receives the resolved folder when the verdict is Inside.
ProfileFolderVerdict CheckProfileFolderPath(const wchar_t* path, const wchar_t* profilesRoot, WString& normalised);

// True for "S-1-" followed by digits and dashes only, as a SID string that
// names a registry key or folder must look.
bool IsPlainSidString(const wchar_t* text);
