#include "repair/mend_rules.h"
#include "tests/narrow.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A profile that loads: its own entry naming its own folder, every right,
// a hive that loads, its AppData folders.
ProfileFacts Sound()
{
    ProfileFacts f;
    f.entryPresent = f.entryPathUsable = f.hasAppData = true;
    f.entryPath = f.folder = L"C:\\Users\\ann";
    f.folderRights = f.userHiveRights = f.classesHiveRights = RightsFinding::Granted;
    f.hive = HiveFinding::Loads;
    return f;
}

void BackupBesideTemporary(ProfileFacts& f)
{
    f.backupPresent = f.backupPathUsable = f.entryPathTemporary = true;
    f.backupPath = f.folder;
    f.entryPath = L"C:\\Users\\TEMP";
    f.entryPathUsable = false;
    f.state = 0x804;
}

TEST(ProfileDiagnosis, EachCauseNamesItsLeastInvasiveMend)
{
    using R = RightsFinding;
    using H = HiveFinding;
    struct Case {
        const char* name;
        void (*damage)(ProfileFacts&);
        const char* causes;   // their names, in order
        MendKind mend;
        const char* actions;  // MendAction values, in order
        bool settingsSound;
    };
    const Case cases[] = {
        {"sound", [](ProfileFacts&) {}, "", MendKind::None, "", true},
        {"backup beside a temporary entry", BackupBesideTemporary, "backup-entry", MendKind::InPlace, "023", true},
        {"backup without an entry", [](ProfileFacts& f) { BackupBesideTemporary(f); f.entryPresent = false; },
         "backup-entry", MendKind::InPlace, "023", true},
        // A stale backup beside a sound entry is no cause.
        {"stale backup", [](ProfileFacts& f) { f.backupPresent = f.backupPathUsable = true; }, "", MendKind::None, "",
         true},
        {"wrong path", [](ProfileFacts& f) { f.entryPathUsable = false; }, "wrong-path", MendKind::InPlace, "1", true},
        {"no entry at all", [](ProfileFacts& f) { f.entryPresent = false; }, "wrong-path", MendKind::InPlace, "1", true},
        {"state left set", [](ProfileFacts& f) { f.state = 0x8004; }, "state-left-set", MendKind::InPlace, "2", true},
        // Bits the service sets on sound profiles are no failure.
        {"harmless state", [](ProfileFacts& f) { f.state = 0x0104; }, "", MendKind::None, "", true},
        {"refcount of an unloaded hive", [](ProfileFacts& f) { f.refCount = 2; }, "refcount-left-set",
         MendKind::InPlace, "3", true},
        {"refcount of a loaded hive", [](ProfileFacts& f) { f.refCount = 1; f.hiveLoaded = true; f.hive = H::InUse; },
         "", MendKind::None, "", true},
        {"folder rights", [](ProfileFacts& f) { f.folderRights = R::Missing; }, "folder-rights", MendKind::InPlace, "4",
         true},
        {"user hive rights", [](ProfileFacts& f) { f.userHiveRights = R::Missing; }, "hive-rights", MendKind::InPlace,
         "5", true},
        {"classes hive rights", [](ProfileFacts& f) { f.classesHiveRights = R::Missing; }, "hive-rights",
         MendKind::InPlace, "5", true},
        {"no classes hive", [](ProfileFacts& f) { f.classesHiveRights = R::Absent; }, "", MendKind::None, "", true},
        {"hive does not load", [](ProfileFacts& f) { f.hive = H::DoesNotLoad; }, "hive-damaged", MendKind::RebuildFresh,
         "", false},
        {"hive loads damaged", [](ProfileFacts& f) { f.hive = H::Damaged; }, "hive-damaged", MendKind::RebuildFresh, "",
         false},
        {"no hive", [](ProfileFacts& f) { f.hive = H::Absent; }, "hive-missing", MendKind::RebuildFresh, "", false},
        {"no folder", [](ProfileFacts& f) { f.folder.clear(); f.entryPathUsable = false; }, "folder-missing",
         MendKind::RebuildFresh, "", false},
        {"no AppData", [](ProfileFacts& f) { f.hasAppData = false; }, "files-missing", MendKind::InPlace, "6", true},
        // Rights that cannot be read: a rebuild re-permissions all of it,
        // keeping the sound hive.
        {"unreadable rights", [](ProfileFacts& f) { f.folderRights = R::Unknown; f.state = 0x800; }, "state-left-set",
         MendKind::RebuildKeepingSettings, "", true},
        // Several causes: one mend in place does all, in order.
        {"rights and state",
         [](ProfileFacts& f) { f.state = 0x800; f.userHiveRights = f.folderRights = R::Missing; },
         "state-left-set folder-rights hive-rights", MendKind::InPlace, "245", true},
        // A damaged hive outranks every cause a mend in place could put right.
        {"rights and a damaged hive", [](ProfileFacts& f) { f.folderRights = R::Missing; f.hive = H::DoesNotLoad; },
         "folder-rights hive-damaged", MendKind::RebuildFresh, "", false},
    };
    for (const Case& c : cases) {
        ProfileFacts facts = Sound();
        c.damage(facts);
        const ProfileDiagnosis d = DiagnoseProfile(facts);
        std::string causes, actions;
        for (ProfileCause cause : d.causes)
            causes += (causes.empty() ? "" : " ") + Narrow(ProfileCauseName(cause));
        for (MendAction action : d.actions)
            actions += std::to_string(static_cast<int>(action));
        EXPECT_EQ(c.causes, causes) << c.name;
        EXPECT_EQ(static_cast<int>(c.mend), static_cast<int>(d.recommended)) << c.name;
        EXPECT_EQ(c.actions, actions) << c.name;
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
    EXPECT_NE(std::string::npos, rebuild.find("Loses every setting")) << rebuild;
    EXPECT_EQ(std::string::npos, Narrow(DiagnosisSummary(DiagnoseProfile(Sound())).c_str()).find("Proposed"));
}

}  // namespace
