// Host value types the plug-in holds in its own memory: text, file names, description IDs.
// Each wraps one host-owned implementation pointer created and destroyed by host operations.
#ifndef KORRAND_GE_STRING_H
#define KORRAND_GE_STRING_H

#include "ge_types.h"

class String {
public:
    String() { Host().string.Init(&d_); }
    String(const String& src) {
        Host().string.Init(&d_);
        Host().string.Assign(&d_, &src.d_);
    }
    ~String() { Host().string.Free(&d_); }
    String& operator=(const String& src) {
        if (this != &src) Host().string.Assign(&d_, &src.d_);
        return *this;
    }

    // length -1 takes the text up to its terminating zero; encoding 0 is 8-bit text.
    void SetCString(const char* text, Int32 length = -1, Int32 encoding = 0) {
        Host().string.SetCString(&d_, text, length, encoding);
    }
    Int32 GetLength() const { return Host().string.GetLength(&d_); }
    // Inserts characters start..end-1 of src (-1: from the start / to the end) at pos.
    void Insert(Int32 pos, const String& src, Int32 start = -1, Int32 end = -1) {
        Host().string.Insert(&d_, pos, &src.d_, start, end);
    }

    const HostStringData* Data() const { return &d_; }
    // The host's own strings (resource texts, the shared empty string) are handed out as
    // HostStringData; they share String's layout.
    static const String& FromHost(const HostStringData* s) {
        return *reinterpret_cast<const String*>(s);
    }

private:
    HostStringData d_;
};
static_assert(sizeof(String) == sizeof(HostStringData), "String is the host's string value");

class Filename {
public:
    Filename() { Host().filename.Init(&d_); }
    Filename(const Filename& src) {
        Host().filename.Init(&d_);
        Host().filename.Copy(&d_, &src.d_);
    }
    ~Filename() { Host().filename.Free(&d_); }
    Filename& operator=(const Filename& src) {
        if (this != &src) Host().filename.Copy(&d_, &src.d_);
        return *this;
    }

    Filename GetDirectory() const {
        Filename dir;
        Host().filename.GetDirectory(&d_, &dir.d_);
        return dir;
    }
    // Appends name as one more path level.
    Filename& operator+=(const String& name) {
        Host().filename.Append(&d_, name.Data());
        return *this;
    }

    const HostFilenameData* Data() const { return &d_; }
    static const Filename& FromHost(const HostFilenameData* f) {
        return *reinterpret_cast<const Filename*>(f);
    }

private:
    HostFilenameData d_;
};
static_assert(sizeof(Filename) == sizeof(HostFilenameData), "Filename is the host's value");

class DescID {
public:
    // A one-level ID: element id, data type, creator.
    explicit DescID(Int32 id, Int32 dtype = 0, Int32 creator = 0) {
        Host().descid.InitLevel(&d_, id, dtype, creator);
    }
    ~DescID() { Host().descid.Free(&d_); }
    DescID(const DescID&) = delete;
    DescID& operator=(const DescID&) = delete;

    // Host comparison; a host without one makes every comparison unequal.
    bool IsEqual(const HostDescIDData* other) const {
        auto equal = Host().descid.Equal;
        return equal != nullptr && equal(&d_, other) != 0;
    }
    const HostDescIDData* Data() const { return &d_; }

private:
    HostDescIDData d_;
};

// The message data of MSG_DESCRIPTION_COMMAND.
struct DescriptionCommand {
    const HostDescIDData* id;
};
static_assert(sizeof(DescriptionCommand) == sizeof(HostDescriptionCommand),
              "DescriptionCommand matches the host's layout");

inline bool GeOpenHTML(const String& address) {
    return Host().general.OpenHTML(address.Data()) != 0;
}

#endif
