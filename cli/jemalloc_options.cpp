// jemalloc's options, read when it starts (the MALLOC_CONF variable still overrides them).
// Transparent huge pages where the system lets a program ask for them: a large drawing touches
// most of its memory once, and every fresh 4 KiB page is a page fault, dear in a virtual machine
// (18 % of the map's time; with huge pages the map takes 0.75 s against 1.0 s). One arena for all
// threads: korrand's threads live for the whole run, and an arena each keeps what each freed for
// its own next allocation, which huge pages make dearer (the map's peak: 161 MB with one arena,
// 175 to 182 MB with two, 155 MB with one and no huge pages).
extern "C" {
extern const char* malloc_conf;
const char* malloc_conf = "narenas:1,thp:always";
}
