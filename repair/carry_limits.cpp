#include "repair/carry_limits.h"

#include <string>
#include <vector>

#include "platform/tree_walk.h"

namespace {

class CarryCounter : public TreeVisitor {
public:
    CarryCounter(const wchar_t* sidString, CarryCounts& counts) : sid_(sidString), counts_(counts) {}

    void OnFile(const TreeFolder& folder, const TreeEntry& entry, HANDLE) override
    {
        // The folder names matter only on the way to the keys; an encrypted
        // file is one wherever it lies.
        std::vector<std::wstring> names;
        if ((entry.attributes & kEncryptedAttribute) == 0) {
            if (folder.depth != 5)
                return;
            for (const TreeFolder* f = &folder; f != nullptr && f->entry != nullptr; f = f->parent)
                names.insert(names.begin(), std::wstring(f->entry->name.Text()));
        }
        switch (ClassifyProfileFile(names, entry.name.Text(), entry.attributes, sid_)) {
        case CarryLoss::EncryptedFile: ++counts_.encryptedFiles; break;
        case CarryLoss::MasterKey: ++counts_.masterKeys; break;
        case CarryLoss::None: break;
        }
    }

    void OnFailure(const TreeFolder&, const TreeEntry*, WalkFailure) override { counts_.complete = false; }

private:
    const wchar_t* sid_;
    CarryCounts& counts_;
};

}  // namespace

bool CountCarryLimits(const wchar_t* profileFolder, const wchar_t* sidString, CarryCounts& counts)
{
    counts = CarryCounts();
    CarryCounter counter(sidString, counts);
    WString root;
    if (!AbsoluteLongPath(profileFolder, root))
        return false;
    if (WalkTree(root.Text(), counter) != WalkRoot::Walked) {
        counts.complete = false;
        return false;
    }
    return true;
}
