#include "ui/folder_picker.h"

#include <shlobj.h>

#include "platform/handles.h"

bool PickFolder(WString& path, HWND owner, const wchar_t* initialFolder)
{
    UniqueCom<IFileDialog> dialog;
    if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileDialog,
                                   reinterpret_cast<void**>(dialog.Put()))) &&
        dialog) {
        if (initialFolder != nullptr && *initialFolder != L'\0') {
            PIDLIST_ABSOLUTE list = ILCreateFromPathW(initialFolder);
            if (list != nullptr) {
                UniqueCom<IShellItem> item;
                if (SUCCEEDED(SHCreateShellItem(nullptr, nullptr, list, item.Put()))) {
                    dialog.Get()->SetFolder(item.Get());
                    dialog.Get()->SetDefaultFolder(item.Get());
                }
                ILFree(list);
            }
        }
        dialog.Get()->SetOptions(FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
        dialog.Get()->SetTitle(L"Select new folder location");
        if (!path.IsEmpty())
            dialog.Get()->SetFileName(path.Text());
        if (FAILED(dialog.Get()->Show(owner)))
            return false;
        UniqueCom<IShellItem> result;
        LPWSTR chosen = nullptr;
        if (FAILED(dialog.Get()->GetResult(result.Put())) ||
            FAILED(result.Get()->GetDisplayName(SIGDN_FILESYSPATH, &chosen)) || chosen == nullptr)
            return false;
        bool assigned = path.Assign(chosen);
        CoTaskMemFree(chosen);
        return assigned && !path.IsEmpty();
    }

    BROWSEINFOW browse{};
    browse.hwndOwner = owner;
    browse.lpszTitle = L"Select new folder location";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&browse);
    if (list == nullptr)
        return false;
    // The older call writes at most MAX_PATH characters: no larger buffer helps.
    wchar_t buffer[MAX_PATH] = L"";
    bool ok = SHGetPathFromIDListW(list, buffer) && buffer[0] != L'\0';
    ILFree(list);
    return ok && path.Assign(buffer);
}
