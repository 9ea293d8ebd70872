#include "repair/mend_rules.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A profile that loads: its own entry naming its own folder, every right,
// a hive that loads, its AppData folders.
ProfileFacts Sound()
{
    ProfileFacts f;
    f.entryPresent = true;
    f.entryPath = L"C:\\Users\\ann";
    f.entryPathUsable = true;
    f.folder = L"C:\\Users\\ann";
    f.folderRights = f.userHiveRights = f.classesHiveRights = RightsFinding::Granted;
    f.hive = HiveFinding::Loads;
    f.hasAppData = true;
    return f;
}

std::string Causes(const ProfileDiagnosis& d)
{
    std::string text;
    for (ProfileCause cause : d.causes)
        text += (text.empty() ? "" : " ") + Narrow(ProfileCauseName(cause));
    return text;
}

std::string Actions(const ProfileDiagnosis& d)
{
    std::string text;
    for (MendAction action : d.actions)
        text += (text.empty() ? "" : ",") + std::to_string(static_cast<int>(action));
    return text;
}

TEST(ProfileDiagnosis, EachCauseNamesItsLeastInvasiveMend)
{
    using A = MendAction;
    auto ids = [](std::vector<MendAction> list) {
        std::string text;
        for (MendAction a : list)
            text += (text.empty() ? "" : ",") + std::to_string(static_cast<int>(a));
        return text;
    };
    struct Case {
        const char* name;
        void (*damage)(ProfileFacts&);
        const char* causes;
        MendKind mend;
        std::vector<MendAction> actions;
        bool settingsSound;
    };
    const Case cases[] = {
        {"sound", [](ProfileFacts&) {}, "", MendKind::None, {}, true},
        {"backup beside a temporary entry",
         [](ProfileFacts& f) {
             f.backupPresent = true;
             f.backupPath = f.folder;
             f.backupPathUsable = true;
             f.entryPath = L"C:\\Users\\TEMP";
             f.entryPathTemporary = true;
             f.entryPathUsable = false;
             f.state = 0x804;
             f.refCount = 1;
         },
         "backup-entry", MendKind::InPlace, {A::RestoreBackupEntry, A::ClearState, A::ClearRefCount}, true},
        {"backup without an entry",
         [](ProfileFacts& f) {
             f.entryPresent = false;
             f.backupPresent = true;
             f.backupPath = f.folder;
             f.backupPathUsable = true;
         },
         "backup-entry", MendKind::InPlace, {A::RestoreBackupEntry, A::ClearState, A::ClearRefCount}, true},
        // A stale backup beside a sound entry is no cause.
        {"stale backup",
         [](ProfileFacts& f) {
             f.backupPresent = true;
             f.backupPath = L"C:\\Users\\ann.OLD";
             f.backupPathUsable = true;
         },
         "", MendKind::None, {}, true},
        {"wrong path", [](ProfileFacts& f) { f.entryPath = L"C:\\Users\\nobody"; f.entryPathUsable = false; },
         "wrong-path", MendKind::InPlace, {A::SetPath}, true},
        {"no entry at all", [](ProfileFacts& f) { f.entryPresent = false; }, "wrong-path", MendKind::InPlace,
         {A::SetPath}, true},
        {"state left set", [](ProfileFacts& f) { f.state = 0x8000 | 0x4; }, "state-left-set", MendKind::InPlace,
         {A::ClearState}, true},
        // Bits the service sets on sound profiles are not a failure.
        {"harmless state", [](ProfileFacts& f) { f.state = 0x0100 | 0x0004; }, "", MendKind::None, {}, true},
        {"refcount of an unloaded hive", [](ProfileFacts& f) { f.refCount = 2; }, "refcount-left-set",
         MendKind::InPlace, {A::ClearRefCount}, true},
        {"refcount of a loaded hive",
         [](ProfileFacts& f) {
             f.refCount = 1;
             f.hiveLoaded = true;
             f.hive = HiveFinding::InUse;
         },
         "", MendKind::None, {}, true},
        {"folder rights", [](ProfileFacts& f) { f.folderRights = RightsFinding::Missing; }, "folder-rights",
         MendKind::InPlace, {A::GrantFolder}, true},
        {"user hive rights", [](ProfileFacts& f) { f.userHiveRights = RightsFinding::Missing; }, "hive-rights",
         MendKind::InPlace, {A::GrantHives}, true},
        {"classes hive rights", [](ProfileFacts& f) { f.classesHiveRights = RightsFinding::Missing; }, "hive-rights",
         MendKind::InPlace, {A::GrantHives}, true},
        {"no classes hive", [](ProfileFacts& f) { f.classesHiveRights = RightsFinding::Absent; }, "",
         MendKind::None, {}, true},
        {"hive does not load", [](ProfileFacts& f) { f.hive = HiveFinding::DoesNotLoad; }, "hive-damaged",
         MendKind::RebuildFresh, {}, false},
        {"hive loads damaged", [](ProfileFacts& f) { f.hive = HiveFinding::Damaged; }, "hive-damaged",
         MendKind::RebuildFresh, {}, false},
        {"no hive", [](ProfileFacts& f) { f.hive = HiveFinding::Absent; }, "hive-missing", MendKind::RebuildFresh, {},
         false},
        {"no folder",
         [](ProfileFacts& f) {
             f.folder.clear();
             f.entryPathUsable = false;
         },
         "folder-missing", MendKind::RebuildFresh, {}, false},
        {"no AppData", [](ProfileFacts& f) { f.hasAppData = false; }, "files-missing", MendKind::InPlace,
         {A::CreateAppData}, true},
        // Rights that cannot be read: a rebuild re-permissions all of it,
        // keeping the sound hive.
        {"unreadable rights with a sound hive",
         [](ProfileFacts& f) {
             f.folderRights = RightsFinding::Unknown;
             f.state = 0x800;
         },
         "state-left-set", MendKind::RebuildKeepingSettings, {}, true},
        // Several causes: one mend in place does all, in order.
        {"rights and state together",
         [](ProfileFacts& f) {
             f.state = 0x800;
             f.userHiveRights = RightsFinding::Missing;
             f.folderRights = RightsFinding::Missing;
         },
         "state-left-set folder-rights hive-rights", MendKind::InPlace, {A::ClearState, A::GrantFolder, A::GrantHives},
         true},
        // A damaged hive outranks every cause a mend in place could put right.
        {"rights and a damaged hive",
         [](ProfileFacts& f) {
             f.folderRights = RightsFinding::Missing;
             f.hive = HiveFinding::DoesNotLoad;
         },
         "folder-rights hive-damaged", MendKind::RebuildFresh, {}, false},
    };
    for (const Case& c : cases) {
        ProfileFacts facts = Sound();
        c.damage(facts);
        ProfileDiagnosis d = DiagnoseProfile(facts);
        EXPECT_EQ(c.causes, Causes(d)) << c.name;
        EXPECT_EQ(static_cast<int>(c.mend), static_cast<int>(d.recommended)) << c.name;
        EXPECT_EQ(ids(c.actions), Actions(d)) << c.name;
        EXPECT_EQ(c.settingsSound, d.settingsSound) << c.name;
    }
}

TEST(ProfileDiagnosis, TheSummaryNamesCauseMendAndWhatItLoses)
{
    ProfileFacts facts = Sound();
    facts.folderRights = RightsFinding::Missing;
    const std::string inPlace = Narrow(DiagnosisSummary(DiagnoseProfile(facts)).c_str());
    EXPECT_NE(std::string::npos, inPlace.find("may not use its own profile folder")) << inPlace;
    EXPECT_NE(std::string::npos, inPlace.find("Proposed: mend in place")) << inPlace;
    EXPECT_NE(std::string::npos, inPlace.find("Loses nothing")) << inPlace;
    facts.hive = HiveFinding::DoesNotLoad;
    const std::string rebuild = Narrow(DiagnosisSummary(DiagnoseProfile(facts)).c_str());
    EXPECT_NE(std::string::npos, rebuild.find("fresh settings")) << rebuild;
    EXPECT_NE(std::string::npos, rebuild.find("Loses every setting")) << rebuild;
    EXPECT_EQ(std::string::npos, Narrow(DiagnosisSummary(DiagnoseProfile(Sound())).c_str()).find("Proposed"));
}

}  // namespace
