// Value types the plug-in keeps in its own memory: strings, file names and description IDs.
// Each holds one heap object of the host's behind impl. Text is stored as given (8-bit, so a
// character is a byte).
#include <climits>
#include <cstring>

#include "model_internal.h"

namespace hostmodel {
namespace {

struct DescLevel {
    int32_t id, dtype, creator;
};

int32_t ClampLength(size_t n) {
    return n > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(n);
}

// ---- Strings

void StringInit(HostStringData* s) {
    if (detail::Recording()) detail::Record("string.Init", s);
    if (s == nullptr) return;
    try {
        s->impl = new std::string();
        detail::Created();
    } catch (...) {
        s->impl = nullptr;  // the contract's "empty string that ignores writes"
    }
}

void StringFree(HostStringData* s) {
    if (detail::Recording()) detail::Record("string.Free", s);
    if (s == nullptr || s->impl == nullptr) return;
    delete static_cast<std::string*>(s->impl);
    s->impl = nullptr;
    detail::Destroyed();
}

void StringSetCString(HostStringData* s, const char* text, int32_t length, int32_t encoding) {
    std::string* str = detail::StringOf(s);
    if (str != nullptr) {
        try {
            if (text == nullptr || length < -1)
                str->clear();
            else if (length == -1)
                str->assign(text);
            else
                str->assign(text, static_cast<size_t>(length));
        } catch (...) {
        }
    }
    // The text as stored: the caller's need not be terminated.
    if (detail::Recording())
        detail::Record("string.SetCString", s, {length, encoding}, {},
                       str != nullptr ? str->c_str() : nullptr);
}

void StringAssign(HostStringData* dst, const HostStringData* src) {
    if (detail::Recording()) detail::Record("string.Assign", dst);
    std::string* d = detail::StringOf(dst);
    if (d == nullptr) return;
    const std::string* from = detail::StringOf(src);
    try {
        if (from == nullptr)
            d->clear();
        else if (from != d)
            *d = *from;
    } catch (...) {
    }
}

int32_t StringGetLength(const HostStringData* s) {
    if (detail::Recording()) detail::Record("string.GetLength", s);
    const std::string* str = detail::StringOf(s);
    return str == nullptr ? 0 : ClampLength(str->size());
}

void StringInsert(HostStringData* s, int32_t pos, const HostStringData* src, int32_t start,
                  int32_t end) {
    if (detail::Recording()) detail::Record("string.Insert", s, {pos, start, end});
    std::string* dst = detail::StringOf(s);
    const std::string* from = detail::StringOf(src);
    if (dst == nullptr || from == nullptr) return;
    const int64_t n = static_cast<int64_t>(from->size());
    int64_t a = start == -1 ? 0 : start;
    int64_t b = end == -1 ? n : end;
    a = a < 0 ? 0 : (a > n ? n : a);
    b = b < 0 ? 0 : (b > n ? n : b);
    if (b <= a) return;
    const int64_t len = static_cast<int64_t>(dst->size());
    int64_t at = pos < 0 ? 0 : (pos > len ? len : pos);
    try {
        const std::string piece = from->substr(static_cast<size_t>(a), static_cast<size_t>(b - a));
        dst->insert(static_cast<size_t>(at), piece);  // piece is a copy: s and src may be one
    } catch (...) {
    }
}

const HostStringData* StringEmpty() {
    if (detail::Recording()) detail::Record("string.Empty", nullptr);
    return detail::EmptyString();
}

// ---- File names

void FilenameInit(HostFilenameData* f) {
    if (detail::Recording()) detail::Record("filename.Init", f);
    if (f == nullptr) return;
    try {
        f->impl = new std::string();
        detail::Created();
    } catch (...) {
        f->impl = nullptr;
    }
}

void FilenameFree(HostFilenameData* f) {
    if (detail::Recording()) detail::Record("filename.Free", f);
    if (f == nullptr || f->impl == nullptr) return;
    delete static_cast<std::string*>(f->impl);
    f->impl = nullptr;
    detail::Destroyed();
}

void FilenameCopy(HostFilenameData* dst, const HostFilenameData* src) {
    if (detail::Recording()) detail::Record("filename.Copy", dst);
    std::string* d = detail::StringOf(dst);
    if (d == nullptr) return;
    const std::string* from = detail::StringOf(src);
    try {
        if (from == nullptr)
            d->clear();
        else if (from != d)
            *d = *from;
    } catch (...) {
    }
}

void FilenameGetDirectory(const HostFilenameData* src, HostFilenameData* dst) {
    if (detail::Recording()) detail::Record("filename.GetDirectory", src);
    std::string* d = detail::StringOf(dst);
    if (d == nullptr) return;
    const std::string* from = detail::StringOf(src);
    try {
        const std::string path = from != nullptr ? *from : std::string();
        const size_t slash = path.find_last_of("/\\");
        if (slash == std::string::npos)
            d->clear();
        else if (slash == 0)
            d->assign(path, 0, 1);  // the root keeps its separator
        else
            d->assign(path, 0, slash);
    } catch (...) {
    }
}

void FilenameAppend(HostFilenameData* f, const HostStringData* name) {
    if (detail::Recording()) detail::Record("filename.Append", f);
    std::string* path = detail::StringOf(f);
    const std::string* add = detail::StringOf(name);
    if (path == nullptr || add == nullptr || add->empty()) return;
    try {
        if (!path->empty() && path->back() != '/' && path->back() != '\\') path->push_back('/');
        path->append(*add);
    } catch (...) {
    }
}

// ---- Description IDs

void DescIDInitLevel(HostDescIDData* d, int32_t id, int32_t dtype, int32_t creator) {
    if (detail::Recording()) detail::Record("descid.InitLevel", d, {id, dtype, creator});
    if (d == nullptr) return;
    try {
        d->impl = new DescLevel{id, dtype, creator};
        detail::Created();
    } catch (...) {
        d->impl = nullptr;
    }
}

void DescIDFree(HostDescIDData* d) {
    if (detail::Recording()) detail::Record("descid.Free", d);
    if (d == nullptr || d->impl == nullptr) return;
    delete static_cast<DescLevel*>(d->impl);
    d->impl = nullptr;
    detail::Destroyed();
}

int32_t DescIDEqual(const HostDescIDData* a, const HostDescIDData* b) {
    if (detail::Recording()) detail::Record("descid.Equal", a);
    if (a == nullptr || b == nullptr || a->impl == nullptr || b->impl == nullptr) return 0;
    const DescLevel& x = *static_cast<const DescLevel*>(a->impl);
    const DescLevel& y = *static_cast<const DescLevel*>(b->impl);
    return x.id == y.id && x.dtype == y.dtype && x.creator == y.creator ? 1 : 0;
}

}  // namespace

namespace detail {

std::string* StringOf(const HostStringData* s) {
    return s == nullptr ? nullptr : static_cast<std::string*>(s->impl);
}
std::string* StringOf(const HostFilenameData* f) {
    return f == nullptr ? nullptr : static_cast<std::string*>(f->impl);
}

const HostStringData* EmptyString() {
    static std::string text;
    static const HostStringData empty{&text};
    return &empty;
}

void InitFilename(HostFilenameData* f, const std::string& path) {
    f->impl = new std::string(path);
    Created();
}
void FreeFilename(HostFilenameData* f) {
    delete static_cast<std::string*>(f->impl);
    f->impl = nullptr;
    Destroyed();
}

void FillStrings(HostStringOps& ops) {
    ops.Init = StringInit;
    ops.Free = StringFree;
    ops.SetCString = StringSetCString;
    ops.Assign = StringAssign;
    ops.GetLength = StringGetLength;
    ops.Insert = StringInsert;
    ops.Empty = StringEmpty;
}

void FillFilenames(HostFilenameOps& ops) {
    ops.Init = FilenameInit;
    ops.Free = FilenameFree;
    ops.Copy = FilenameCopy;
    ops.GetDirectory = FilenameGetDirectory;
    ops.Append = FilenameAppend;
}

void FillDescIDs(HostDescIDOps& ops) {
    ops.InitLevel = DescIDInitLevel;
    ops.Free = DescIDFree;
    ops.Equal = DescIDEqual;
}

}  // namespace detail

std::string Text(const HostStringData* s) {
    const std::string* str = detail::StringOf(s);
    return str != nullptr ? *str : std::string();
}

void SetText(HostStringData* s, const std::string& text) {
    if (std::string* str = detail::StringOf(s)) *str = text;
}

std::string Path(const HostFilenameData* f) {
    const std::string* str = detail::StringOf(f);
    return str != nullptr ? *str : std::string();
}

void SetPath(HostFilenameData* f, const std::string& path) {
    if (std::string* str = detail::StringOf(f)) *str = path;
}

}  // namespace hostmodel
