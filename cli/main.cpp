// korrand: a command-line host for the dash modifier. It loads the plug-in folder as the host
// application does (c4d_main, registration, objects created through the record) and dashes the
// curves of SVG, OBJ and JSON files.
#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <unistd.h>
#include <ext/stdio_filebuf.h>
#ifdef _WIN32
#include <io.h>
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX  // min and max stay std::min and std::max
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "document.h"
#include "host_model.h"
#include "korrand_host.h"

namespace fs = std::filesystem;
using korrand::io::Format;

namespace {

constexpr const char* kVersion = KORRAND_VERSION;
// An SVG's period when neither a count nor a period is given (and a shape has no dash array).
constexpr const char* kDefaultPeriod = "2mm";

// Exit codes users and scripts rely on.
enum Exit { kOk = 0, kPluginFailed = 1, kBadInput = 2 };

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "1 object", "2 objects"; "1 dash", "2 dashes".
std::string Count(long long n, const std::string& one, const std::string& many = "") {
    return std::to_string(n) + " " + (n == 1 ? one : many.empty() ? one + "s" : many);
}

#ifdef _WIN32
// Past MAX_PATH (260), Windows opens a name only in its extended form: absolute, with
// backslashes, prefixed \\?\ (\\?\UNC\ for a share). A name near it gets it too, as the
// temporary file beside the output is 18 characters longer.
fs::path Extended(const fs::path& path) {
    const std::wstring& given = path.native();
    if (given.rfind(L"\\\\?\\", 0) == 0 || given.rfind(L"\\\\.\\", 0) == 0)
        return path;  // already extended, or a device
    std::error_code ec;
    const fs::path full = fs::absolute(path, ec);
    const std::wstring& text = full.native();
    if (ec || text.size() < MAX_PATH - 40 || text.rfind(L"\\\\.\\", 0) == 0) return path;
    const std::wstring normal = full.lexically_normal().make_preferred().native();
    return normal.rfind(L"\\\\", 0) == 0 ? fs::path(L"\\\\?\\UNC\\" + normal.substr(2))
                                         : fs::path(L"\\\\?\\" + normal);
}
#else
const fs::path& Extended(const fs::path& path) {
    return path;
}
#endif

// File names are UTF-8 on every platform, as korrand takes its arguments (on Windows, where a
// narrow name would be read in the ANSI code page, from their UTF-16).
fs::path PathOf(const std::string& name) {
    return Extended(fs::u8path(name));
}

// A directory named as the input is bad input, whatever its name says.
void RefuseDirectory(const std::string& path) {
    std::error_code ec;
    if (path != "-" && fs::is_directory(PathOf(path), ec))
        throw UsageError("'" + path + "' is a directory, not a file to dash");
}

// ---- The options of `dash`, typed. CLI11 converts each option's text: a length through
// operator>>, a choice through Choice (its names in any case), the modifier's parameters
// through ParameterOptions.

// A CSS length as written ("3mm"; px without a unit) and in CSS px.
struct Length {
    std::string text;
    double px = 0;
};
std::istream& operator>>(std::istream& in, Length& length) {
    in >> length.text;
    if (!korrand::io::ParseLength(length.text, &length.px)) in.setstate(std::ios::failbit);
    return in;
}

// --period: one dash per length of each subpath ("3mm"), or each shape's own dash array where
// it has one, else a length ("dasharray", "dasharray,3mm"; the default's length without one).
struct Period {
    bool dasharray = false;
    std::optional<Length> length;
};
std::istream& operator>>(std::istream& in, Period& period) {
    std::string text;
    in >> text;
    const std::string own = "dasharray";
    period.dasharray = text.compare(0, own.size(), own) == 0;
    period.length.reset();
    if (period.dasharray) {
        if (text.size() == own.size()) return in;
        if (text[own.size()] != ',') {
            in.setstate(std::ios::failbit);
            return in;
        }
        text.erase(0, own.size() + 1);
    }
    std::istringstream length(text);
    Length l;
    length >> l;
    if (!length) in.setstate(std::ios::failbit);
    period.length = l;
    return in;
}

enum class Fills { Keep, Drop };

// The names of an option's choices, as help lists them.
template <class E>
using Names = std::vector<std::pair<std::string, E>>;
const Names<korrand::io::Select> kSelectNames = {{"stroked", korrand::io::Select::Stroked},
                                                 {"all", korrand::io::Select::All},
                                                 {"dasharray", korrand::io::Select::Dasharray}};
const Names<Fills> kFillsNames = {{"keep", Fills::Keep}, {"drop", Fills::Drop}};

template <class E>
std::string NameOf(const Names<E>& names, E value) {
    for (const auto& [name, v] : names)
        if (v == value) return name;
    return "?";
}

// Reads a choice by its name, any case, and hands CLI11 the enum's number to convert.
template <class E>
CLI::Validator Choice(const Names<E>& names) {
    std::string all;
    for (const auto& n : names) all += (all.empty() ? "" : ", ") + n.first;
    return CLI::Validator(
        [names, all](std::string& text) -> std::string {
            for (const auto& [name, value] : names)
                if (CLI::detail::to_lower(text) == name) {
                    text = std::to_string(static_cast<int>(value));
                    return "";
                }
            return "'" + text + "' is not one of " + all;
        },
        "");
}

// A file format by name: svg, svgz (a gzip-compressed SVG), obj, json.
struct FormatName {
    Format format = Format::Svg;
    bool compressed = false;
};
std::istream& operator>>(std::istream& in, FormatName& name) {
    std::string text;
    in >> text;
    if (const auto format = korrand::io::FormatFromName(text))
        name = {*format, korrand::io::IsCompressedName(text)};
    else
        in.setstate(std::ios::failbit);
    return in;
}
CLI::Validator FormatCheck() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return korrand::io::FormatFromName(text)
                       ? ""
                       : "unknown format '" + text + "' (use svg, svgz, obj or json)";
        },
        "");
}

// A text that reads as T through operator>>, or why not.
template <class T>
CLI::Validator Reads(const std::string& why) {
    return CLI::Validator(
        [why](std::string& text) -> std::string {
            std::istringstream in(text);
            T value;
            in >> value;
            return in && (in >> std::ws).eof() ? "" : why;
        },
        "");
}

// The options of `dash`. A new host-side option touches, besides this struct:
//   - its declaration in DeclareDash below (type, help, exclusions), and the warning in Dash
//     when it is an SVG reader's option given for another format;
//   - where it takes effect: io::ReadOptions or io::WriteOptions (cli/formats/document.h),
//     filled by ReadOptionsFor and WriteOutput below, or the summary line (Summarise). In the
//     SVG reader, cli/formats/svg_read.h maps its parts: which shapes the options choose is
//     decided in svg_select.cpp, a choice that needs a shape's length in BuildObjects
//     (svg_objects.cpp);
//   - a new reason to leave shapes alone: a count in io::ShapeCounts, its words in LeftAloneBy
//     (the summary and the "nothing to dash" note), and the regular expressions by which the
//     Inkscape extension reads that note (NOTHING, OUTSIDE, NO_LENGTH, MADE, nothing_dashed);
//   - the README: the table of host-side options (section "Using korrand"), the summary line's
//     paragraph, and the section "In Inkscape" (its controls and messages);
//   - the Inkscape extension: a control of the Dashes page in inkscape/korrand_dash.inx.in, its
//     translation into options in korrand_arguments() of inkscape/korrand_dash.py, and the
//     dialog's values with the options they stand for (DEFAULTS, CASES) in
//     inkscape/tests/test_extension.py, which tests/windows/inkscape_script.py reuses;
//   - a test of its effect (tests/cli_test.cpp, tests/svg_filter_test.cpp).
// The modifier's parameters are not listed here: each value parameter of the plug-in's
// description becomes an option of its own (ParameterOptions), and the extension's Modifier page
// is written from the same description (inkscape/make_inx.py).
struct DashOptions {
    std::string input, output = "-";
    std::optional<FormatName> from, to;
    korrand::Settings settings;  // by parameter key, as given on the command line
    // SVG: what gets dashed and what a dashed shape keeps.
    korrand::io::Select select = korrand::io::Select::Stroked;
    std::vector<std::string> layers, ids;
    std::optional<Period> period;
    std::optional<Length> tolerance;
    Fills fills = Fills::Keep;
    bool plotter = false, preview = false, quiet = false;
};

// The input's and the output's format: by name, else by extension, else (an input) by its first
// bytes, which tell a compressed SVG on standard input too; the output's, else the input's.
// Windows' devices (NUL, CON, COM1, ...) are names in every folder, with or without an
// extension, and have no status to ask: "-o NUL" is Windows' "-o /dev/null".
bool IsWindowsDevice(const fs::path& path) {
#ifdef _WIN32
    std::wstring name = path.filename().native();
    name = name.substr(0, name.find_first_of(L".:"));
    while (!name.empty() && name.back() == L' ') name.pop_back();
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    if (name == L"NUL" || name == L"CON" || name == L"PRN" || name == L"AUX") return true;
    return name.size() == 4 &&
           (name.compare(0, 3, L"COM") == 0 || name.compare(0, 3, L"LPT") == 0) &&
           name[3] >= L'0' && name[3] <= L'9';
#else
    (void)path;
    return false;
#endif
}

// A device or a pipe (/dev/null, /dev/stdout, a named pipe, Windows' NUL): written into as
// standard output is.
bool IsDeviceOrPipe(const std::string& path) {
    std::error_code named;
    const fs::file_status kind = fs::status(PathOf(path), named);
    return (!named && fs::exists(kind) && !fs::is_regular_file(kind) && !fs::is_directory(kind)) ||
           IsWindowsDevice(PathOf(path));
}

struct Formats {
    Format in, out;
    bool compressOut = false;  // a gzip-compressed SVG
};
Formats ChooseFormats(const DashOptions& o) {
    std::optional<Format> in = o.from ? std::optional<Format>(o.from->format) : std::nullopt;
    if (!in && o.input != "-") in = korrand::io::FormatFromPath(o.input);
    if (!in && o.input == "-") in = korrand::io::SniffFormat(std::cin);
    if (!in) {
        std::ifstream file(PathOf(o.input), std::ios::binary);
        in = korrand::io::SniffFormat(file);
    }
    if (!in && o.input == "-")
        throw UsageError("cannot tell the format of standard input; use --from");
    if (!in)
        throw UsageError("cannot tell the format of '" + o.input +
                         "' from its extension; use --from");
    if (o.to) return {*in, o.to->format, o.to->compressed};
    const std::optional<Format> out = korrand::io::FormatFromPath(o.output);
    // Standard output, a device or a pipe has no extension to go by: the input's format.
    if (o.output == "-" || (!out && IsDeviceOrPipe(o.output))) return {*in, *in, false};
    if (!out)
        throw UsageError("cannot tell the format of '" + o.output +
                         "' from its extension; use --to");
    return {*in, *out, korrand::io::IsCompressedName(o.output)};
}

// The temporary file being written, for the signal handler: an interrupted run removes it. Its
// name as the system takes it (UTF-16 on Windows).
fs::path::value_type gTemporary[4096];

#ifdef _WIN32
// The console's own code page while korrand writes UTF-8 into it (0: left as it was), given back
// however korrand ends.
UINT gConsoleCodePage = 0;
void RestoreConsole() {
    if (gConsoleCodePage != 0) SetConsoleOutputCP(gConsoleCodePage);
}
BOOL WINAPI RestoreConsoleOnBreak(DWORD) {
    RestoreConsole();
    return FALSE;  // and on to the next handler, which ends the run
}
#endif

extern "C" void RemoveTemporaryAndDie(int signal) {
#ifdef _WIN32
    RestoreConsole();
    if (gTemporary[0] != 0) ::_wunlink(gTemporary);
#else
    if (gTemporary[0] != 0) ::unlink(gTemporary);
#endif
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

struct TemporaryGuard {
    explicit TemporaryGuard(const fs::path& tmp) {
        const fs::path::string_type& text = tmp.native();
        if (text.size() >= std::size(gTemporary)) return;  // too long to remember: not removed
        std::copy(text.c_str(), text.c_str() + text.size() + 1, gTemporary);
        for (const int s : {SIGTERM, SIGINT}) std::signal(s, RemoveTemporaryAndDie);
#ifdef SIGHUP
        std::signal(SIGHUP, RemoveTemporaryAndDie);  // Windows has no hang-up signal
#endif
    }
    ~TemporaryGuard() {
        gTemporary[0] = 0;
    }
};

// The temporary file beside the output, made anew under a name of its own (`prefix` and a few
// characters), never one that is there: two runs writing the same output each write their own,
// and a file or a link left or planted under a known name is never written through. It is
// created as the shell's '>' creates a file (the umask and the folder's default ACL apply); a
// replaced output's permissions are given to it before the rename. Windows deletes no file
// that is open unless it was opened to let that happen: there it is opened so, for an
// interrupted run to remove it from its handler while it is being written (the system frees it
// when the process ends).
class TemporaryFile {
public:
    TemporaryFile(const fs::path& dir, const std::string& prefix) {
        std::random_device entropy;
        for (unsigned attempt = 0; attempt < 100; ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(entropy()));
            path_ = Extended(dir / fs::u8path(prefix + suffix));
#ifdef _WIN32
            const HANDLE h =
                CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                const DWORD error = GetLastError();
                if (error == ERROR_FILE_EXISTS) continue;
                errno = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                                error == ERROR_LOCK_VIOLATION
                            ? EACCES
                        : error == ERROR_FILENAME_EXCED_RANGE                         ? ENAMETOOLONG
                        : error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME  ? EINVAL
                        : error == ERROR_DIRECTORY                                    ? ENOTDIR
                        : error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? ENOSPC
                        : error == ERROR_WRITE_PROTECT                                ? EROFS
                                                                                      : ENOENT;
                break;
            }
            const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_WRONLY);
            if (fd == -1) {
                CloseHandle(h);
                DeleteFileW(path_.c_str());
                break;
            }
#else
            const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd == -1) {
                if (errno == EEXIST) continue;
                break;
            }
#endif
            Attach(fd);
            return;
        }
        path_.clear();
        out_.setstate(std::ios::failbit);
    }
    // Empty where none could be made.
    const fs::path& path() const {
        return path_;
    }
    std::ostream& stream() {
        return out_;
    }
    void close() {
        out_.flush();
        if (buffer_ != nullptr && buffer_->close() == nullptr) out_.setstate(std::ios::failbit);
    }

private:
    void Attach(int fd) {
        buffer_ = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(
            fd, std::ios::out | std::ios::binary, std::size_t{1} << 16);
        out_.rdbuf(buffer_.get());
    }
    fs::path path_;
    std::unique_ptr<__gnu_cxx::stdio_filebuf<char>> buffer_;
    std::ostream out_{nullptr};
};

// Writes into out. A writer throws when its stream fails (a full disk): that failure is left
// in the stream's state for the caller to report with the system's reason; any other goes on.
void WriteInto(std::ostream& out, const std::function<void(std::ostream&)>& write) {
    try {
        write(out);
        out.flush();
    } catch (...) {
        if (out) throw;
    }
}

std::string WriteFailure(int error) {
    return error != 0 ? std::strerror(error) : "the write failed";
}

UsageError WriteError(const std::string& path, int error) {
    return UsageError("cannot write '" + path + "': " + WriteFailure(error));
}

// Writes through a temporary file beside the target and renames it into place, so a failed or
// interrupted run never leaves a half-written output, nor the temporary file.
// Returns the file written, where it replaced one (empty for standard output, a device or a pipe).
fs::path WriteAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
    if (path == "-") {
        errno = 0;
        WriteInto(std::cout, write);
        if (!std::cout) throw UsageError("cannot write to standard output: " + WriteFailure(errno));
        return {};
    }
    if (IsDeviceOrPipe(path)) {
        // A file renamed over a device or a pipe would replace the device itself.
        errno = 0;
        std::ofstream out(PathOf(path), std::ios::binary);
        if (out) WriteInto(out, write);
        if (!out) throw WriteError(path, errno);
        return {};
    }
    // Through a symbolic link, as an editor saves: the link stays, the file it names is replaced.
    fs::path target = PathOf(path);
    std::error_code linked;
    for (int hop = 0; hop < 40 && fs::is_symlink(fs::symlink_status(target, linked)); ++hop) {
        const fs::path next = fs::read_symlink(target, linked);
        if (linked) break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    // A file made read-only, or one the user may not write, is not replaced behind their back
    // (the shell's '>' would not write into it either), whoever runs korrand.
    std::error_code found;
    if (const fs::file_status old = fs::status(target, found); fs::is_regular_file(old)) {
        constexpr fs::perms kWrite =
            fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
#ifdef _WIN32
        const bool writable = ::_waccess(target.c_str(), 2) == 0;
#else
        const bool writable = ::access(target.c_str(), W_OK) == 0;
#endif
        // The system's reason where it refused; a file without write permission that root may
        // still write is refused as the shell refuses others.
        const int why = writable ? EACCES : errno;
        if (!writable || (old.permissions() & kWrite) == fs::perms::none)
            throw UsageError("cannot write '" + path + "': " + std::strerror(why));
    }
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    errno = 0;
    // Named after the output where that leaves room for the rest within a name's 255 bytes.
    const std::string name = target.filename().u8string();
    TemporaryFile file(dir, (name.size() <= 200 ? "." + name : std::string()) + ".korrand-");
    const fs::path tmp = file.path();
    if (tmp.empty())
        throw UsageError("cannot write '" + path + "': " +
                         (errno != 0 ? std::strerror(errno) : "cannot create a file there"));
    const TemporaryGuard guard(tmp);
    {
        std::ostream& out = file.stream();
        try {
            WriteInto(out, write);
        } catch (...) {
            file.close();
            fs::remove(tmp);
            throw;
        }
        file.close();  // a failure to close is a failed write too
        if (!out) {
            const int error = errno;
            fs::remove(tmp);
            throw WriteError(path, error);
        }
    }
    std::error_code ec;
    // A file replaced keeps its permissions (a private drawing stays private).
    const fs::file_status existing = fs::status(target, ec);
    if (!ec && fs::is_regular_file(existing)) fs::permissions(tmp, existing.permissions(), ec);
    fs::rename(tmp, target, ec);
    if (ec) {
        fs::remove(tmp);
        throw UsageError("cannot write '" + path + "': " + ec.message());
    }
    return target;
}

// Whether some curve has a length the modifier can measure: a step whose square is more than
// none and finite.
bool AnyMeasurable(const korrand::io::Document& doc) {
    for (const korrand::io::LineObject& object : doc.objects)
        for (const auto& segment : object.segments)
            for (std::size_t i = 1; i < segment.size(); ++i) {
                const double dx = segment[i].x - segment[i - 1].x,
                             dy = segment[i].y - segment[i - 1].y,
                             dz = segment[i].z - segment[i - 1].z;
                const double square = dx * dx + dy * dy + dz * dz;
                if (square > 0 && std::isfinite(square)) return true;
            }
    return false;
}

// What the reader is asked for: the options, and the drawing's own default dashes.
korrand::io::ReadOptions ReadOptionsFor(const DashOptions& o, Format format) {
    korrand::io::ReadOptions ro;
    if (o.tolerance) ro.tolerance = o.tolerance->px;
    ro.select = o.select;
    ro.preview = o.preview;
    ro.layers = o.layers;
    ro.ids = o.ids;
    if (auto closed = o.settings.find("closed"); closed != o.settings.end())
        ro.closed = closed->second != 0;
    // A drawing's own default: a hundred dashes on every subpath, whatever its length, suits a
    // spline of a scene, not a page. Each shape's dash array where it has one, else a period.
    const bool countGiven = o.settings.count("count") != 0 || o.settings.count("relative") != 0;
    const Period period = o.period                               ? *o.period
                          : format == Format::Svg && !countGiven ? Period{true, std::nullopt}
                                                                 : Period{};
    ro.periodFromDasharray = period.dasharray;
    if (period.length)
        ro.period = period.length->px;
    else if (period.dasharray)
        korrand::io::ParseLength(kDefaultPeriod, &ro.period);
    return ro;
}

korrand::io::Document ReadInput(const DashOptions& o, Format format) {
    const korrand::io::ReadOptions ro = ReadOptionsFor(o, format);
    if (o.input == "-") return korrand::io::Read(std::cin, format, "<stdin>", ro);
    std::ifstream in(PathOf(o.input), std::ios::binary);
    if (!in) throw UsageError("cannot open '" + o.input + "': " + std::strerror(errno));
    return korrand::io::Read(in, format, o.input, ro);
}

korrand::io::WriteStats WriteOutput(const DashOptions& o, const Formats& formats,
                                    const korrand::io::Document& input,
                                    const korrand::io::Document& dashed,
                                    korrand::io::PathDataAhead* ahead, fs::path* file = nullptr) {
    korrand::io::WriteOptions wo;
    wo.preview = o.preview;
    wo.keepFills = o.fills == Fills::Keep && !o.plotter;
    wo.keepMarkers = !o.plotter;
    korrand::io::WriteStats written;
    wo.stats = &written;
    wo.original = &input;
    wo.ahead = ahead;
    wo.compress = formats.compressOut;
    const fs::path target = WriteAtomically(
        o.output, [&](std::ostream& out) { korrand::io::Write(out, formats.out, dashed, wo); });
    if (file != nullptr) *file = target;
    return written;
}

// Why shapes were left alone, after their count: what chose them (the selection always, layers
// and ids when given), and how many of them stay solid as their own dash arrays draw them.
std::string LeftAloneBy(const DashOptions& o, const korrand::io::ShapeCounts& c) {
    std::string by = " left alone by --select " + NameOf(kSelectNames, o.select);
    if (!o.layers.empty()) by += "/--layer";
    if (!o.ids.empty()) by += "/--id";
    std::vector<std::string> of;
    if (c.solidByItsArray > 0)
        of.push_back(std::to_string(c.solidByItsArray) + " solid by " +
                     (c.solidByItsArray == 1 ? "its own dash array" : "their own dash arrays"));
    if (c.outsideSelection > 0 && !(o.layers.empty() && o.ids.empty()))
        of.push_back(std::to_string(c.outsideSelection) + " outside " +
                     (o.layers.empty() ? "--id"
                      : o.ids.empty()  ? "--layer"
                                       : "--layer/--id"));
    if (c.noLength > 0) of.push_back(std::to_string(c.noLength) + " of no length");
    if (c.madeByKorrand > 0) of.push_back(std::to_string(c.madeByKorrand) + " made by korrand");
    for (std::size_t i = 0; i < of.size(); ++i) by += (i == 0 ? " (" : "; ") + of[i];
    if (!of.empty()) by += ")";
    return by;
}

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The summary line: what was read, dashed and written, and how long each step took.
void Summarise(const DashOptions& o, const korrand::io::Document& input,
               const korrand::DashStats& stats, const korrand::io::WriteStats& written,
               const Clock::time_point (&t)[4]) {
    // As written: an SVG joins the two pieces of a dash cut at a closed subpath's seam.
    const int64_t dashes = written.counted ? written.dashes : stats.dashesOut;
    const int64_t points = written.counted ? written.points : stats.pointsOut;
    std::string subdivision;
    if (stats.lowestSubdivision <= stats.highestSubdivision)
        subdivision = " (subdivision " + std::to_string(stats.lowestSubdivision) +
                      (stats.lowestSubdivision < stats.highestSubdivision
                           ? ".." + std::to_string(stats.highestSubdivision)
                           : std::string()) +
                      " for the tolerance)";
    const auto objects = static_cast<long long>(input.objects.size());
    // An SVG's shapes, each counted once where it is decided: the four counts add up to the
    // first; the dashed ones became the line objects handed to the modifier.
    std::string read =
        "read " + Count(objects, "object") + ", " + Count(stats.segmentsIn, "segment");
    if (const auto& c = input.shapeCounts)
        read = "read " + Count(c->dashed + c->leftAlone + c->hidden + c->skipped, "shape") + ": " +
               std::to_string(c->dashed) + " dashed (as " + Count(objects, "line object") + " of " +
               Count(stats.segmentsIn, "subpath") + "), " + std::to_string(c->leftAlone) +
               LeftAloneBy(o, *c) + ", " + std::to_string(c->hidden) + " hidden, " +
               std::to_string(c->skipped) + " skipped";
    const std::string counts = read + "; wrote " + Count(dashes, "dash", "dashes") + ", " +
                               Count(points, "point") + subdivision;
    std::fprintf(stderr, "korrand: %s in %.1f ms (read %.1f, dash %.1f, write %.1f)\n",
                 counts.c_str(), Ms(t[3] - t[0]), Ms(t[1] - t[0]), Ms(t[2] - t[1]),
                 Ms(t[3] - t[2]));
}

// A large drawing's documents are millions of small blocks, and freeing them one by one just
// before the process ends, when the system takes them back at once, took a tenth of the run
// (0.2 s on a 20 MB map). Once the output is written they are kept to the end. Builds with
// AddressSanitizer free them, so that leaks and bad frees are still seen.
constexpr bool kFreeAtEnd = hostmodel::kAddressChecked;
void KeepToEnd(std::unique_ptr<const korrand::io::Document> doc) {
    if (kFreeAtEnd) return;
    // Reachable from here to the end: not a leak.
    static auto* kept = new std::vector<std::unique_ptr<const korrand::io::Document>>();
    kept->push_back(std::move(doc));
}

// korrand reads long path data back, but libxml2's default limits stop rsvg-convert, xmllint
// and lxml at 10,000,000 bytes in one attribute, and at as many in long ones where its buffer's
// alignment leaves it no chance to drop what it parsed: a written file is tried as they read it.
void WarnOfLongPathData(const DashOptions& o, const Formats& formats,
                        const korrand::io::WriteStats& written, const fs::path& file) {
    const bool one = written.longestPathData > korrand::io::kLibxml2Limit;
    if (!one && written.longPathData <= korrand::io::kLibxml2Limit) return;
    std::ifstream text;  // the file replaced (a pipe or a device gives nothing back)
    if (!one && !file.empty() && !formats.compressOut) text.open(file, std::ios::binary);
    if (text.is_open() && !korrand::io::RefusedByDefaultLimits(text)) return;
    std::cerr << "korrand: warning: " << (o.output == "-" ? "the output" : o.output) << ": "
              << (one ? "a shape's dashes make " : "the dashes make ") << std::fixed
              << std::setprecision(1)
              << static_cast<double>(one ? written.longestPathData : written.longPathData) / 1e6
              << (one ? " MB of path data in one attribute, more than tools built on libxml2 "
                        "(rsvg-convert, xmllint, lxml) read by default"
                      : " MB of path data in long attributes, which tools built on libxml2 2.9 "
                        "(rsvg-convert, xmllint, lxml) ")
              << (one              ? ""
                  : text.is_open() ? "refuse by default"
                                   : "may refuse by default")
              << "; a longer period makes less\n";
}

// An output that is the input (by another name or a link too) would replace the drawing the
// user dashes: with other settings, the original is what is dashed again.
void RefuseOverwritingTheInput(const DashOptions& o) {
    if (o.input == "-" || o.output == "-" || IsDeviceOrPipe(o.output)) return;
    std::error_code ec;
    if (fs::equivalent(PathOf(o.input), PathOf(o.output), ec) && !ec)
        throw UsageError("cannot write '" + o.output +
                         "': it is the input, which would be lost (give -o another name)");
}

int Dash(const DashOptions& o, korrand::KorrandHost& host) {
    // Everything the options decide is checked before any input is read.
    RefuseDirectory(o.input);
    RefuseOverwritingTheInput(o);
    const Formats formats = ChooseFormats(o);
    host.CheckSettings(o.settings);
    // A script passing one set of options over mixed files is told what did nothing.
    const auto unused = [](const std::vector<std::pair<bool, const char*>>& options,
                           const char* verb, const char* verbOfMany, const std::string& why) {
        std::string given;
        int count = 0;
        for (const auto& [set, name] : options)
            if (set) given += (count++ == 0 ? "" : ", ") + std::string(name);
        if (count > 0)
            std::cerr << "korrand: warning: " << given << ' ' << (count == 1 ? verb : verbOfMany)
                      << why << "\n";
    };
    const auto named = [](Format format) {
        std::string name = korrand::io::FormatName(format);
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return name;
    };
    if (formats.in != Format::Svg)
        unused({{o.period.has_value(), "--period"},
                {o.tolerance.has_value(), "--tolerance"},
                {o.select != korrand::io::Select::Stroked, "--select"},
                {!o.layers.empty(), "--layer"},
                {!o.ids.empty(), "--id"},
                {o.fills != Fills::Keep, "--fills"},
                {o.plotter, "--plotter"}},
               "acts", "act",
               " on an SVG's shapes only: ignored for " + named(formats.in) + " input");
    if (formats.out != Format::Svg)
        unused({{o.preview, "--preview"}}, "draws", "draw",
               " in an SVG only: ignored for " + named(formats.out) + " output");

    Clock::time_point t[4];
    t[0] = Clock::now();
    auto read = std::make_unique<korrand::io::Document>(ReadInput(o, formats.in));
    const korrand::io::Document& input = *read;
    for (const auto& w : input.warnings) std::cerr << "korrand: warning: " << w << "\n";
    // Dashing them again would cut each dash into pieces: a second run on its own output, a
    // preview's faint copies.
    if (const auto& c = input.shapeCounts; c && c->madeByKorrand > 0 && !input.objects.empty())
        std::cerr << "korrand: warning: " << Count(c->madeByKorrand, "shape")
                  << (c->madeByKorrand == 1 ? " is" : " are")
                  << " korrand's own from an earlier run (dashes, an original kept beside them, a "
                     "preview), left as they are (dash the original drawing to change them)\n";
    // A drawing without a shape to dash passes through, so a batch or a pipeline goes on. The
    // note says why; the Inkscape extension reads it.
    if (const auto& c = input.shapeCounts; c && input.objects.empty() && !o.quiet)
        std::cerr << "korrand: note: " << (o.input == "-" ? "<stdin>" : o.input)
                  << " has nothing to dash (" << Count(c->leftAlone, "shape") << LeftAloneBy(o, *c)
                  << ", " << c->hidden << " hidden, " << c->skipped
                  << " skipped); written unchanged\n";
    t[1] = Clock::now();
    korrand::DashStats stats;
    // Each object's path data is made as soon as it is dashed, and its points freed: the most
    // memory a large drawing takes is then not all its dashes' points at once.
    korrand::io::PathDataAhead ahead(input, formats.out);
    auto made = [&] {
        try {
            return std::make_unique<korrand::io::Document>(host.Dash(
                input, o.settings, &stats,
                [&](std::size_t i, korrand::io::LineObject& object) { ahead.Take(i, object); }));
        } catch (const hostmodel::DashError& e) {
            // What the file holds (its stored settings, its layout): a batch's log names it.
            if (e.kind() != hostmodel::DashError::Kind::Value &&
                e.kind() != hostmodel::DashError::Kind::Input)
                throw;
            throw hostmodel::DashError(e.kind(),
                                       (o.input == "-" ? "<stdin>" : o.input) + ": " + e.what());
        }
    }();
    korrand::io::Document& dashed = *made;
    if (stats.segmentsIn > 0 && stats.dashesOut == 0)
        std::cerr << "korrand: warning: "
                  << (AnyMeasurable(input)
                          ? "the settings make no dashes (a count of 0, or a start and end less "
                            "than 0.001 apart, leaves none)"
                          : "the curves have no length (their points all coincide, or are too "
                            "large to measure)")
                  << ": the dashed curves are written empty\n";
    // A drawing's own geometry is dashed now: its dashes are written into its tree, and the
    // write, which holds the most, reuses the room (the summary counts the objects, not points).
    if (korrand::io::WritesIntoOriginal(input, dashed))
        for (korrand::io::LineObject& object : read->objects)
            std::vector<std::vector<korrand::io::Point>>().swap(object.segments);
    t[2] = Clock::now();
    fs::path file;
    const korrand::io::WriteStats written = WriteOutput(o, formats, input, dashed, &ahead, &file);
    t[3] = Clock::now();
    WarnOfLongPathData(o, formats, written, file);
    if (!o.quiet) Summarise(o, input, stats, written, t);
    KeepToEnd(std::move(made));
    KeepToEnd(std::move(read));
    return kOk;
}

int Info(const korrand::KorrandHost& host, bool json) {
    std::cout << (json ? host.InfoJson() : host.InfoText());
    return kOk;
}

// "--plugin DIR" wherever it stands, read before the options are declared: the plug-in's
// description decides which parameter options exist.
std::string PluginArgument(int argc, char** argv) {
    CLI::App pre;
    pre.set_help_flag();
    pre.allow_extras();
    std::string plugin;
    pre.add_option("--plugin", plugin);
    try {
        pre.parse(argc, argv);
    } catch (const CLI::ParseError&) {
        // Reported by the full parse.
    }
    return plugin;
}

// One option per value parameter of the description, in its order: --KEY VALUE for numbers,
// --KEY and its negation (the description's name for the false state, else --no-KEY) for
// booleans. Returns the options by key.
// CLI11 lists the options one excludes in the order of their addresses in memory, which differs
// between builds and runs: the help lists them by name, the same everywhere.
class SortedExcludesFormatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* opt) const override {
        std::string text = CLI::Formatter::make_option_opts(opt);
        const std::string label = " " + get_label("Excludes") + ":";
        const std::size_t at = text.rfind(label);
        if (at == std::string::npos || opt->get_excludes().empty()) return text;
        std::vector<std::string> names;
        for (const CLI::Option* other : opt->get_excludes()) names.push_back(other->get_name());
        std::sort(names.begin(), names.end());
        text.resize(at + label.size());
        for (const std::string& name : names) text += " " + name;
        return text;
    }
};

std::map<std::string, CLI::Option*> ParameterOptions(CLI::App* dash,
                                                     const hostmodel::ModifierPlugin& modifier,
                                                     korrand::Settings& settings) {
    const std::string group = "Parameters of the modifier (from its description)";
    std::map<std::string, CLI::Option*> options;
    for (const hostmodel::Parameter& p : modifier.parameters()) {
        if (p.type == hostmodel::ParameterType::Button || p.hidden) continue;
        std::string help = p.help.empty() ? p.label : p.help;
        const std::string key = p.key;
        if (p.type == hostmodel::ParameterType::Bool) {
            const std::string off = hostmodel::OptionFlag(p.off.empty() ? "no_" + key : p.off);
            const bool on = p.def.value_or(0) != 0;
            // The default named, as the numbers' are: a help text may speak of both states.
            CLI::Option* yes = dash->add_flag_callback(
                hostmodel::OptionFlag(key), [&settings, key] { settings[key] = 1; },
                help + " (default " + (on ? hostmodel::OptionFlag(key) : off) + ")");
            CLI::Option* no = dash->add_flag_callback(
                off, [&settings, key] { settings[key] = 0; },
                "The opposite of " + hostmodel::OptionFlag(key));
            yes->excludes(no);
            yes->group(group);
            no->group(group);
            options[key] = yes;
            options[p.off.empty() ? "no_" + key : p.off] = no;
            continue;
        }
        std::string range;
        if (p.min && p.max)
            range = hostmodel::FormatNumber(*p.min) + ".." + hostmodel::FormatNumber(*p.max);
        if (p.def)
            range += (range.empty() ? "default " : ", default ") + hostmodel::FormatNumber(*p.def);
        if (!range.empty()) help += " (" + range + ")";
        CLI::Option* option = dash->add_option_function<double>(
            hostmodel::OptionFlag(key), [&settings, key](double v) { settings[key] = v; }, help);
        option->type_name(p.type == hostmodel::ParameterType::Long ? "INT" : "NUMBER");
        option->group(group);
        options[key] = option;
    }
    return options;
}

// The options of `dash`, into o: the files, the formats, the modifier's parameters when the
// plug-in could be opened, and the host's own.
CLI::App* DeclareDash(CLI::App& app, const korrand::KorrandHost* host, const std::string& loadError,
                      DashOptions& o) {
    CLI::App* dash = app.add_subcommand("dash", "Replace every curve of a file with dashes");
    dash->fallthrough();
    // The defaults above are the plug-in's; a drawing's own differ where they are not given.
    dash->footer(
        "In an SVG, unless given: closedness follows each subpath (closed where it ends with Z), "
        "the subdivision is chosen for the tolerance, and --period dasharray applies unless the "
        "count or either relative switch is given.\n\n"
        "Example: korrand dash drawing.svg -o dashed.svg --period 3mm\n"
        "(every stroked outline of drawing.svg becomes dashes, one per 3 mm of the page)");
    dash->add_option("INPUT", o.input, "Input file, or - for standard input")->required();
    dash->add_option("-o,--output", o.output, "Output file, or - for standard output (default)");
    dash->add_option("--from", o.from,
                     "Input format: svg, svgz, obj or json (default: extension; a compressed SVG "
                     "is also known by its first bytes)")
        ->check(FormatCheck())
        ->type_name("FORMAT");
    dash->add_option("--to", o.to,
                     "Output format: svg, svgz (compressed), obj or json (default: extension, "
                     "else the input's)")
        ->check(FormatCheck())
        ->type_name("FORMAT");
    std::map<std::string, CLI::Option*> parameterOptions;
    if (host != nullptr) {
        parameterOptions = ParameterOptions(dash, host->Modifier(), o.settings);
    } else {
        // The parameter options are unknown; the command reports why. Extras of a subcommand
        // fall through to the app, which must take them too.
        dash->allow_extras();
        app.allow_extras();
        dash->footer("The plug-in could not be opened, so its parameter options are not listed: " +
                     loadError);
    }
    dash->add_option("--tolerance", o.tolerance,
                     "SVG: flattening tolerance for curves, a length such as 0.05mm (default: "
                     "relative to drawing size)")
        ->check(Reads<Length>("must be a positive length (px, mm, cm, in, pt or pc)"))
        ->type_name("LENGTH");
    dash->add_option("--select", o.select,
                     "SVG: shapes to dash: stroked (default), all, or dasharray")
        ->transform(Choice(kSelectNames))
        ->type_name("stroked|all|dasharray");
    dash->add_option("--layer", o.layers,
                     "SVG: only shapes in this layer (label or top-level group id); repeatable")
        ->allow_extra_args(false)
        ->type_name("NAME");
    dash->add_option("--id", o.ids,
                     "SVG: only this element, or the shapes inside it (a group, a layer, a <use>); "
                     "repeatable")
        ->allow_extra_args(false)
        ->type_name("ID");
    CLI::Option* period =
        dash->add_option("--period", o.period,
                         std::string("SVG: one dash per LENGTH of each subpath (px, mm, cm, in, "
                                     "pt, pc); dasharray: by each shape's own dash array where it "
                                     "has one, else ") +
                             kDefaultPeriod +
                             " (dasharray,LENGTH: else LENGTH). Default without --count: "
                             "dasharray")
            ->check(Reads<Period>("must be a positive length (px, mm, cm, in, pt or pc), "
                                  "dasharray or dasharray,LENGTH"))
            ->type_name("LENGTH|dasharray[,LENGTH]");
    // A period decides each subpath's count itself.
    for (const char* key : {"count", "relative", "no_relative"})
        if (auto it = parameterOptions.find(key); it != parameterOptions.end())
            period->excludes(it->second);
    CLI::Option* fills =
        dash->add_option("--fills", o.fills,
                         "SVG: a filled shape keeps its fill beside its dashes (keep, default) "
                         "or is its dashes alone (drop)")
            ->transform(Choice(kFillsNames))
            ->type_name("keep|drop");
    dash->add_flag("--plotter", o.plotter,
                   "SVG: for plotters and cutters, which draw every path's outline: a dashed "
                   "shape is its dashes alone, without its fill or markers")
        ->excludes(fills);
    dash->add_flag("--preview", o.preview, "SVG: the original shapes, faint, in a layer beneath");
    dash->add_flag("-q,--quiet", o.quiet, "No summary line on standard error");
    return dash;
}

// Runs a command, turning what it throws into a one-line message and the exit code.
template <class Command>
int Run(Command command) {
    try {
        return command();
    } catch (const korrand::io::ReadError& e) {
        std::cerr << "korrand: " << e.what() << "\n";
        return kBadInput;
    } catch (const korrand::SettingError& e) {
        std::cerr << "korrand: " << e.what() << "\n";
        return kBadInput;
    } catch (const hostmodel::DashError& e) {
        std::cerr << "korrand: " << e.what() << "\n";
        const bool badInput = e.kind() == hostmodel::DashError::Kind::Input ||
                              e.kind() == hostmodel::DashError::Kind::Value;
        return badInput ? kBadInput : kPluginFailed;
    } catch (const UsageError& e) {
        std::cerr << "korrand: " << e.what() << "\n";
        return kBadInput;
    } catch (const korrand::PluginFailure& e) {
        std::cerr << "korrand: " << e.what() << "\n";
        return kPluginFailed;
    } catch (const std::exception& e) {
        std::cerr << "korrand: " << e.what() << "\n";
        return kPluginFailed;
    }
}

// The first word of a refused command line that names no command or option, said plainly: the
// parser's own message blames what it could not place ("INPUT is required", the input file
// "not expected") rather than the typo. None when every word is known.
std::optional<std::string> Mistyped(const CLI::App& app, int argc, char** argv) {
    const CLI::App* command = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        char* end = nullptr;
        std::strtod(word.c_str(), &end);
        const bool number = !word.empty() && end != nullptr && *end == '\0';
        if (word.size() > 1 && word[0] == '-' && !number) {
            const std::string name = word.substr(0, word.find('='));
            if (name == "-h" || name == "--help" || name == "--version") continue;
            const CLI::Option* option =
                command != nullptr ? command->get_option_no_throw(name) : nullptr;
            if (option == nullptr) option = app.get_option_no_throw(name);
            if (option == nullptr)
                return "no option " + name +
                       (command != nullptr ? " for " + command->get_name() : std::string());
            if (option->get_items_expected_min() > 0 && name.size() == word.size()) ++i;
        } else if (command == nullptr) {
            const auto named =
                app.get_subcommands([&](const CLI::App* c) { return c->check_name(word); });
            if (named.empty()) return "no command '" + word + "' (dash or info)";
            command = named.front();
        }
    }
    return std::nullopt;
}

int Main(int argc, char** argv) {
#ifdef _WIN32
    // Files are bytes on every platform: no CR added before each LF written to standard output,
    // and standard input does not end at the first Ctrl-Z.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    // 1. The plug-in, opened first: its description gives the parameter options. When it cannot
    //    be opened, help and version still answer, and any command reports why.
    std::unique_ptr<korrand::KorrandHost> host;
    std::string loadError;
    try {
        host = std::make_unique<korrand::KorrandHost>(
            korrand::FindPluginFolder(PluginArgument(argc, argv), argv[0]));
    } catch (const std::exception& e) {
        loadError = e.what();
    }

    // 2. The commands and their options.
    CLI::App app{
        "korrand: dashes the curves of SVG, OBJ and JSON files with the Korrand "
        "modifier plug-in"};
    app.formatter(std::make_shared<SortedExcludesFormatter>());  // before the subcommands copy it
    app.set_version_flag("--version", std::string("korrand ") + kVersion);
    app.require_subcommand(1);
    // The same options on every platform: on Windows "/path" stays a file, not an option.
    app.allow_windows_style_options(false);
    app.footer(
        "Run 'korrand dash --help' for the options of dash, one per parameter of the "
        "modifier.");
    // Declared once; the subcommands pass it through, so it may stand before or after them.
    std::string plugin;
    app.add_option("--plugin", plugin, "Plug-in folder (default: the one beside korrand)");
    DashOptions o;
    CLI::App* dash = DeclareDash(app, host.get(), loadError, o);
    bool json = false;
    CLI::App* info = app.add_subcommand("info", "Show what the plug-in registered with the host");
    info->fallthrough();
    info->add_flag("--json", json, "Machine-readable output");

    // 3. The command line, read.
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "korrand: " << Mistyped(app, argc, argv).value_or(e.what())
                  << " (see korrand --help)\n";
        return kBadInput;
    }

    // 4. The command, run.
    return Run([&] {
        if (!host) throw korrand::PluginFailure(loadError);
        return dash->parsed() ? Dash(o, *host) : Info(*host, json);
    });
}

}  // namespace

#ifdef _WIN32
// Windows hands a program's narrow arguments over in the ANSI code page, which holds neither
// every file name (a drawing named in Polish on a Western system) nor the UTF-8 of a document's
// layer labels and ids: korrand takes them as UTF-16 and works in UTF-8.
int wmain(int argc, wchar_t** wargv) {
    std::vector<std::string> args(static_cast<std::size_t>(argc));
    std::vector<char*> argv;
    for (int i = 0; i < argc; ++i) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
        if (n > 1) {
            args[i].resize(static_cast<std::size_t>(n));
            WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, &args[i][0], n, nullptr, nullptr);
            args[i].resize(static_cast<std::size_t>(n) - 1);
        }
        argv.push_back(args[i].data());
    }
    argv.push_back(nullptr);
    // Its messages are UTF-8 (file names, a document's labels and ids): a console in another
    // code page (850, 1252, ...) would garble every letter beyond ASCII.
    if (const UINT own = GetConsoleOutputCP(); own != 0 && own != CP_UTF8) {
        SetConsoleCtrlHandler(RestoreConsoleOnBreak, TRUE);
        if (SetConsoleOutputCP(CP_UTF8)) gConsoleCodePage = own;
    }
    const int status = Main(argc, argv.data());
    RestoreConsole();
    return status;
}
#else
int main(int argc, char** argv) {
    return Main(argc, argv);
}
#endif
