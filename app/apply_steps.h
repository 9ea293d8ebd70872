// The steps of `apply` that stand apart from its plan of accounts and
// groups: reading the document's file, mending the findings it names, and
// the GDI+ session its pictures are read and written in.
#pragma once

#include <windows.h>
#include <gdiplus.h>

#include <string>
#include <vector>

class CommandRun;

// The file's bytes, named as a command line names files (relative to the
// current folder); false when it cannot be read or is larger than 16 MB.
bool ReadDocumentFile(const wchar_t* path, std::string& text);

// The findings the document names, mended as `doctor --fix` mends them:
// read at their turn, after the changes before them. Exits 1 when one of
// them is left that cannot be mended.
int CarryOutMend(CommandRun& run, const std::vector<std::wstring>& names);

// GDI+ while pictures are read and written (from a plan's first read of a
// file to its last write): only the commands that draw start it.
class GdiplusSession {
public:
    GdiplusSession()
    {
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok)
            token_ = 0;
    }
    ~GdiplusSession()
    {
        if (token_ != 0)
            Gdiplus::GdiplusShutdown(token_);
    }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

private:
    ULONG_PTR token_ = 0;
};
