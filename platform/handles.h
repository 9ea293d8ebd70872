// Owning holders for the platform's handles: one template over a traits
// struct that names the empty value and the release call.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdlib>

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : value_(value) {}
    ~UniqueResource() { Reset(); }

    UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Type Get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::Invalid(); }

    // Gives up ownership without closing.
    Type Release() noexcept
    {
        Type value = value_;
        value_ = Traits::Invalid();
        return value;
    }

    // Closes what is held (keeping the caller's last-error code) and takes `value`.
    void Reset(Type value = Traits::Invalid()) noexcept
    {
        if (value_ != Traits::Invalid() && value_ != value) {
            DWORD lastError = GetLastError();
            Traits::Close(value_);
            SetLastError(lastError);
        }
        value_ = value;
    }

    // The held value itself compared with null, as the raw handle would be.
    friend bool operator==(std::nullptr_t, const UniqueResource& held) noexcept { return held.value_ == nullptr; }
    friend bool operator==(const UniqueResource& held, std::nullptr_t) noexcept { return held.value_ == nullptr; }
    friend bool operator!=(std::nullptr_t, const UniqueResource& held) noexcept { return held.value_ != nullptr; }
    friend bool operator!=(const UniqueResource& held, std::nullptr_t) noexcept { return held.value_ != nullptr; }

    // For out-parameters: closes what is held first.
    Type* Put() noexcept
    {
        Reset();
        return &value_;
    }

private:
    Type value_ = Traits::Invalid();
};

struct HandleTraits {            // handles whose empty value is null
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};
struct FileHandleTraits {        // handles whose empty value is INVALID_HANDLE_VALUE
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h)
    {
        if (h != nullptr)   // some calls hand out null for "none" as well
            CloseHandle(h);
    }
};
template <typename T>
struct GdiObjectTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DeleteObject(h); }
};
struct IconTraits {
    using Type = HICON;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DestroyIcon(h); }
};
struct MemoryDcTraits {
    using Type = HDC;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DeleteDC(h); }
};
struct LibraryTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeLibrary(h); }
};
// LocalAlloc'd blocks of any kind: SIDs, ACLs, security descriptors, text.
template <typename T = HLOCAL>
struct LocalMemoryTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { LocalFree(h); }
};
template <typename T>
struct MallocTraits {
    using Type = T*;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { std::free(h); }
};
// SIDs made by AllocateAndInitializeSid, which only FreeSid may free.
struct FreeSidTraits {
    using Type = PSID;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { FreeSid(h); }
};
// A COM interface pointer: the one reference it holds is released once.
template <typename Interface>
struct ComTraits {
    using Type = Interface*;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { h->Release(); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static void Close(Type h)
    {
        if (h != reinterpret_cast<HKEY>(~static_cast<ULONG_PTR>(0)))
            RegCloseKey(h);
    }
};
struct FindTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};
struct MenuTraits {
    using Type = HMENU;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DestroyMenu(h); }
};
struct AcceleratorTraits {
    using Type = HACCEL;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DestroyAcceleratorTable(h); }
};
struct WindowTraits {
    using Type = HWND;
    static Type Invalid() { return nullptr; }
    static void Close(Type h) { DestroyWindow(h); }
};

// Tokens, threads, processes, events: handles whose empty value is null.
using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueToken = UniqueResource<HandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueFont = UniqueResource<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;
using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueIcon = UniqueResource<IconTraits>;
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;
using UniqueLibrary = UniqueResource<LibraryTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits<>>;
using LocalSid = UniqueResource<LocalMemoryTraits<PSID>>;
using AllocatedSid = UniqueResource<FreeSidTraits>;
using LocalAcl = UniqueResource<LocalMemoryTraits<PACL>>;
using LocalSecurityDescriptor = UniqueResource<LocalMemoryTraits<PSECURITY_DESCRIPTOR>>;
using UniqueBytes = UniqueResource<MallocTraits<BYTE>>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueFind = UniqueResource<FindTraits>;
using UniqueMenu = UniqueResource<MenuTraits>;
using UniqueAccelerators = UniqueResource<AcceleratorTraits>;
using UniqueWindow = UniqueResource<WindowTraits>;
template <typename Interface>
using UniqueCom = UniqueResource<ComTraits<Interface>>;
