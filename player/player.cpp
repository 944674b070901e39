// The player program a self-playing EXE starts with. It reads its own file:
// the enciphered descriptor after its own bytes, then the masked MP3 data.
// It checks both CRCs, asks for the password when the file has one, decodes
// the sound with the program's MPEG audio decoder and plays it through
// waveOut, with play, pause, stop, a position slider and, when the file
// allows it, a speed control (0.5x .. 2x) that keeps the pitch.
//
// Test switches: --decode-to OUT.wav [--password P] decodes into a WAV file
// without a window; the exit code is 0, or 2 (and no file) when the password
// is wrong or the file is damaged, 1 for other failures.
#include "engine/core/exe_layout.h"
#include "engine/decode/mp3dec.h"
#include "stretch.h"
#include "texts.h"

#include <windows.h>

#include <commctrl.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace kestrel;
namespace layout = kestrel::exe;

namespace {

constexpr int kExitDamaged = 2;

// ---------------------------------------------------------------- the file

struct Sound {
    layout::Descriptor d;
    std::vector<uint8_t> mp3; // unmasked
    std::vector<int16_t> pcm; // decoded, interleaved
    int rate = 44100;
    int channels = 2;
};

enum class LoadResult { Ok, Unreadable, Damaged };

LoadResult loadOwnFile(Sound& s) {
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return LoadResult::Unreadable;
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return LoadResult::Unreadable;
    LARGE_INTEGER size;
    std::vector<uint8_t> all;
    bool ok = GetFileSizeEx(f, &size) && size.QuadPart < (1LL << 31);
    if (ok) {
        all.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = ReadFile(f, all.data(), static_cast<DWORD>(all.size()), &got, nullptr) &&
             got == all.size();
    }
    CloseHandle(f);
    if (!ok) return LoadResult::Unreadable;
    if (all.size() < layout::kDataOffset) return LoadResult::Damaged;
    uint8_t desc[layout::kDescriptorBytes];
    std::memcpy(desc, all.data() + layout::kPlayerBytes, sizeof desc);
    layout::decipherDescriptor(desc);
    if (layout::parseDescriptor(desc, s.d) < 0) return LoadResult::Damaged;
    uint32_t playerCrc = layout::crc32Mpeg2(layout::kCrcInit, all.data(), layout::kPlayerBytes);
    if (playerCrc != s.d.playerCrc) return LoadResult::Damaged;
    size_t have = all.size() - layout::kDataOffset;
    if (s.d.maskedBytes > have) return LoadResult::Damaged;
    const uint8_t* data = all.data() + layout::kDataOffset;
    if (layout::crc32Mpeg2(layout::kCrcInit, data, s.d.maskedBytes) != s.d.dataCrc)
        return LoadResult::Damaged;
    s.mp3.assign(data, data + s.d.maskedBytes);
    layout::maskBytes(s.d.keys, s.d.period, 0, s.mp3.data(), s.mp3.size());
    return LoadResult::Ok;
}

bool decode(Sound& s) {
    mp3dec_t h = nullptr;
    if (mp3dec_open(&h, 0, 0, 0, 1) != SSC_OK) return false;
    std::vector<uint8_t> out(1152 * 2 * 2);
    size_t pos = 0;
    bool ended = false;
    s.rate = s.d.outRate;
    s.channels = s.d.channels;
    for (;;) {
        uint32_t produced = 0;
        Mp3Ssc st = mp3dec_decode(h, out.data(), static_cast<uint32_t>(out.size()), &produced);
        if (produced) {
            Mp3FrameInfo fi;
            if (mp3dec_frame_info(h, &fi) == SSC_OK) {
                s.rate = fi.outRate;
                s.channels = fi.outChannels;
            }
            const int16_t* p = reinterpret_cast<const int16_t*>(out.data());
            s.pcm.insert(s.pcm.end(), p, p + produced / 2);
            continue;
        }
        if (st == SSC_W_MPGA_SYNCEOF || sscIsError(st)) break;
        if (pos < s.mp3.size()) {
            uint32_t used = 0;
            size_t n = s.mp3.size() - pos < 4096 ? s.mp3.size() - pos : 4096;
            mp3dec_feed(h, s.mp3.data() + pos, static_cast<uint32_t>(n), &used);
            pos += used;
        } else if (!ended) {
            mp3dec_end_of_input(h);
            ended = true;
        } else if (st != SSC_W_MPGA_SYNCLOST) {
            break;
        }
    }
    mp3dec_close(h);
    if (s.channels < 1) s.channels = 1;
    return !s.pcm.empty();
}

std::string toCodePage936(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(936, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(936, 0, w.c_str(), static_cast<int>(w.size()), out.data(), n, nullptr,
                            nullptr);
    return out;
}

std::wstring fromCodePage936(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(936, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(936, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

bool writeWav(const std::wstring& path, const Sound& s) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    uint32_t data = static_cast<uint32_t>(s.pcm.size() * 2);
    uint8_t h[44];
    auto le32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            h[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto le16 = [&](int at, uint32_t v) {
        h[at] = static_cast<uint8_t>(v);
        h[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    std::memcpy(h, "RIFF", 4);
    le32(4, 36 + data);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    le32(16, 16);
    le16(20, 1);
    le16(22, static_cast<uint32_t>(s.channels));
    le32(24, static_cast<uint32_t>(s.rate));
    le32(28, static_cast<uint32_t>(s.rate * s.channels * 2));
    le16(32, static_cast<uint32_t>(s.channels * 2));
    le16(34, 16);
    std::memcpy(h + 36, "data", 4);
    le32(40, data);
    DWORD w = 0;
    bool ok = WriteFile(f, h, 44, &w, nullptr) && w == 44 &&
              WriteFile(f, s.pcm.data(), data, &w, nullptr) && w == data;
    CloseHandle(f);
    if (!ok) DeleteFileW(path.c_str());
    return ok;
}

// ---------------------------------------------------------------- playback

constexpr int kBuffers = 4;

struct Playback {
    Sound* sound = nullptr;
    HWAVEOUT device = nullptr;
    HANDLE event = nullptr;
    HANDLE thread = nullptr;
    WAVEHDR headers[kBuffers];
    std::vector<int16_t> blocks[kBuffers];
    std::atomic<bool> quit{false};
    std::atomic<bool> playing{false};
    std::atomic<bool> paused{false};
    std::atomic<int64_t> seekTo{-1}; // sample frame, -1: none
    std::atomic<int64_t> position{0};
    std::atomic<int> speedPercent{100};
    kplayer::Stretcher stretcher;
};

Playback g_play;

DWORD WINAPI playThread(void*) {
    Playback& p = g_play;
    const Sound& s = *p.sound;
    const int frames = s.rate / 10; // 100 ms per buffer
    for (int i = 0; i < kBuffers; ++i) {
        p.blocks[i].assign(static_cast<size_t>(frames * s.channels), 0);
        std::memset(&p.headers[i], 0, sizeof(WAVEHDR));
        p.headers[i].dwFlags = WHDR_DONE;
    }
    while (!p.quit.load()) {
        int64_t seek = p.seekTo.exchange(-1);
        if (seek >= 0) p.stretcher.seek(seek);
        bool wrote = false;
        for (int i = 0; i < kBuffers && p.playing.load() && !p.paused.load(); ++i) {
            WAVEHDR& h = p.headers[i];
            if (!(h.dwFlags & WHDR_DONE)) continue;
            if (h.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(p.device, &h, sizeof h);
            p.stretcher.setSpeed(p.speedPercent.load() / 100.0);
            int got = p.stretcher.read(p.blocks[i].data(), frames);
            if (got <= 0) {
                p.playing = false;
                break;
            }
            std::memset(&h, 0, sizeof h);
            h.lpData = reinterpret_cast<LPSTR>(p.blocks[i].data());
            h.dwBufferLength = static_cast<DWORD>(got * s.channels * 2);
            waveOutPrepareHeader(p.device, &h, sizeof h);
            waveOutWrite(p.device, &h, sizeof h);
            wrote = true;
        }
        p.position = p.stretcher.position();
        if (!wrote) WaitForSingleObject(p.event, 50);
    }
    return 0;
}

bool openDevice(Sound& s) {
    if (g_play.device) return true;
    WAVEFORMATEX fmt{};
    fmt.wFormatTag = WAVE_FORMAT_PCM;
    fmt.nChannels = static_cast<WORD>(s.channels);
    fmt.nSamplesPerSec = static_cast<DWORD>(s.rate);
    fmt.wBitsPerSample = 16;
    fmt.nBlockAlign = static_cast<WORD>(s.channels * 2);
    fmt.nAvgBytesPerSec = fmt.nSamplesPerSec * fmt.nBlockAlign;
    g_play.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (waveOutOpen(&g_play.device, WAVE_MAPPER, &fmt, reinterpret_cast<DWORD_PTR>(g_play.event), 0,
                    CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        g_play.device = nullptr;
        CloseHandle(g_play.event);
        g_play.event = nullptr;
        return false;
    }
    g_play.sound = &s;
    g_play.stretcher.attach(s.pcm.data(), static_cast<int64_t>(s.pcm.size()) / s.channels,
                            s.channels, s.rate);
    g_play.thread = CreateThread(nullptr, 0, playThread, nullptr, 0, nullptr);
    return true;
}

void closeDevice() {
    if (!g_play.device) return;
    g_play.quit = true;
    SetEvent(g_play.event);
    WaitForSingleObject(g_play.thread, INFINITE);
    CloseHandle(g_play.thread);
    waveOutReset(g_play.device);
    for (auto& h : g_play.headers)
        if (h.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(g_play.device, &h, sizeof h);
    waveOutClose(g_play.device);
    CloseHandle(g_play.event);
    g_play.device = nullptr;
}

// ---------------------------------------------------------------- the windows

enum Control { kIdPlay = 101, kIdPause, kIdStop, kIdPosition, kIdSpeed, kIdTime, kIdSpeedText };
constexpr UINT_PTR kTimer = 1;

Sound* g_sound = nullptr;
HFONT g_font = nullptr;
HWND g_time = nullptr, g_positionBar = nullptr, g_speedBar = nullptr, g_speedText = nullptr;
bool g_dragging = false;

HWND child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w,
           int h, int id) {
    HWND c = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(g_font), TRUE);
    return c;
}

int64_t totalFrames() {
    return static_cast<int64_t>(g_sound->pcm.size()) / g_sound->channels;
}

void showTime() {
    int64_t pos = g_play.position.load() / g_sound->rate;
    int64_t all = totalFrames() / g_sound->rate;
    wchar_t buf[64];
    swprintf(buf, 64, kplayer::text::kTime, static_cast<int>(pos / 60), static_cast<int>(pos % 60),
             static_cast<int>(all / 60), static_cast<int>(all % 60));
    SetWindowTextW(g_time, buf);
    if (!g_dragging && totalFrames() > 0)
        SendMessageW(g_positionBar, TBM_SETPOS, TRUE,
                     static_cast<LPARAM>(g_play.position.load() * 1000 / totalFrames()));
}

void showSpeed() {
    if (!g_speedText) return;
    int v = g_play.speedPercent.load();
    wchar_t buf[32];
    swprintf(buf, 32, kplayer::text::kSpeedValue, v / 100, v % 100);
    SetWindowTextW(g_speedText, buf);
}

LRESULT CALLBACK mainProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE: {
        const Sound& s = *g_sound;
        std::wstring desc = fromCodePage936(s.d.description);
        child(w, L"STATIC", desc.c_str(), SS_LEFT, 16, 12, 408, 60, 0);
        g_time = child(w, L"STATIC", L"", SS_LEFT, 16, 80, 200, 22, kIdTime);
        g_positionBar =
            child(w, TRACKBAR_CLASSW, L"", TBS_HORZ | TBS_NOTICKS, 10, 106, 420, 28, kIdPosition);
        SendMessageW(g_positionBar, TBM_SETRANGE, TRUE, MAKELPARAM(0, 1000));
        child(w, L"BUTTON", kplayer::text::kPlay, BS_PUSHBUTTON, 16, 142, 80, 30, kIdPlay);
        child(w, L"BUTTON", kplayer::text::kPause, BS_PUSHBUTTON, 106, 142, 80, 30, kIdPause);
        child(w, L"BUTTON", kplayer::text::kStop, BS_PUSHBUTTON, 196, 142, 80, 30, kIdStop);
        if (s.d.speedControl) {
            child(w, L"STATIC", kplayer::text::kSpeed, SS_LEFT, 16, 186, 80, 22, 0);
            g_speedBar =
                child(w, TRACKBAR_CLASSW, L"", TBS_HORZ | TBS_NOTICKS, 96, 182, 240, 28, kIdSpeed);
            SendMessageW(g_speedBar, TBM_SETRANGE, TRUE, MAKELPARAM(50, 200));
            SendMessageW(g_speedBar, TBM_SETPOS, TRUE, 100);
            g_speedText = child(w, L"STATIC", L"", SS_LEFT, 344, 186, 80, 22, kIdSpeedText);
            showSpeed();
        }
        showTime();
        SetTimer(w, kTimer, 200, nullptr);
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case kIdPlay:
            if (!openDevice(*g_sound)) {
                MessageBoxW(w, kplayer::text::kNoDevice, kplayer::text::kTitle, MB_ICONWARNING);
                return 0;
            }
            if (g_play.paused.exchange(false)) waveOutRestart(g_play.device);
            if (!g_play.playing.load() && g_play.position.load() >= totalFrames())
                g_play.seekTo = 0;
            g_play.playing = true;
            SetEvent(g_play.event);
            return 0;
        case kIdPause:
            if (g_play.device && g_play.playing.load()) {
                bool was = g_play.paused.load();
                g_play.paused = !was;
                if (was)
                    waveOutRestart(g_play.device);
                else
                    waveOutPause(g_play.device);
                SetEvent(g_play.event);
            }
            return 0;
        case kIdStop:
            if (g_play.device) {
                g_play.playing = false;
                g_play.paused = false;
                waveOutReset(g_play.device);
                waveOutRestart(g_play.device);
                g_play.seekTo = 0;
                g_play.position = 0;
                SetEvent(g_play.event);
            }
            showTime();
            return 0;
        }
        break;
    case WM_HSCROLL: {
        HWND bar = reinterpret_cast<HWND>(lp);
        int code = LOWORD(wp);
        if (bar == g_positionBar) {
            g_dragging = code == TB_THUMBTRACK;
            if (code == TB_THUMBTRACK) return 0;
            int64_t at = SendMessageW(g_positionBar, TBM_GETPOS, 0, 0) * totalFrames() / 1000;
            if (g_play.device) {
                waveOutReset(g_play.device);
                if (g_play.paused.load()) waveOutPause(g_play.device);
                g_play.seekTo = at;
                SetEvent(g_play.event);
            }
            g_play.position = at;
            showTime();
        } else if (bar == g_speedBar) {
            g_play.speedPercent = static_cast<int>(SendMessageW(g_speedBar, TBM_GETPOS, 0, 0));
            showSpeed();
        }
        return 0;
    }
    case WM_TIMER:
        showTime();
        return 0;
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_DESTROY:
        KillTimer(w, kTimer);
        closeDevice();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

// The password prompt: a small modal window of our own (no resources).
struct PasswordPrompt {
    HWND edit = nullptr;
    std::wstring text;
    bool done = false, accepted = false;
};
PasswordPrompt* g_prompt = nullptr;

LRESULT CALLBACK promptProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE:
        child(w, L"STATIC", kplayer::text::kPasswordPrompt, SS_LEFT, 16, 14, 260, 22, 0);
        g_prompt->edit =
            child(w, L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, 16, 40,
                  260, 26, 1);
        SendMessageW(g_prompt->edit, EM_LIMITTEXT, 15, 0);
        child(w, L"BUTTON", kplayer::text::kOk, BS_DEFPUSHBUTTON | WS_TABSTOP, 106, 78, 80, 28,
              IDOK);
        child(w, L"BUTTON", kplayer::text::kCancel, BS_PUSHBUTTON | WS_TABSTOP, 196, 78, 80, 28,
              IDCANCEL);
        SetFocus(g_prompt->edit);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
            wchar_t buf[32] = {};
            GetWindowTextW(g_prompt->edit, buf, 32);
            g_prompt->text = buf;
            g_prompt->accepted = LOWORD(wp) == IDOK;
            g_prompt->done = true;
            DestroyWindow(w);
        }
        return 0;
    case WM_CLOSE:
        g_prompt->done = true;
        DestroyWindow(w);
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

// Asks once; false when the user cancelled.
bool askPassword(HINSTANCE inst, std::wstring& out) {
    PasswordPrompt p;
    g_prompt = &p;
    RECT r{0, 0, 292, 120};
    AdjustWindowRect(&r, WS_CAPTION | WS_SYSMENU, FALSE);
    HWND w = CreateWindowExW(WS_EX_DLGMODALFRAME, L"KestrelPassword", kplayer::text::kPasswordTitle,
                             WS_CAPTION | WS_SYSMENU | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                             r.right - r.left, r.bottom - r.top, nullptr, nullptr, inst, nullptr);
    MSG m;
    while (!p.done && GetMessageW(&m, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(w, &m)) continue;
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    g_prompt = nullptr;
    out = p.text;
    return p.accepted;
}

int runWindow(HINSTANCE inst, Sound& s) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    g_font = CreateFontW(-14, 0, 0, 0, FW_NORMAL, 0, 0, 0, GB2312_CHARSET, 0, 0, CLEARTYPE_QUALITY,
                         0, kplayer::text::kFontFace);
    WNDCLASSW wc{};
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.lpfnWndProc = promptProc;
    wc.lpszClassName = L"KestrelPassword";
    RegisterClassW(&wc);
    wc.lpfnWndProc = mainProc;
    wc.lpszClassName = L"KestrelPlayer";
    RegisterClassW(&wc);

    if (s.d.passwordOn) {
        bool ok = false;
        for (int tries = 0; tries < 3 && !ok; ++tries) {
            std::wstring typed;
            if (!askPassword(inst, typed)) return kExitDamaged;
            ok = toCodePage936(typed) == s.d.password;
            if (!ok && tries < 2)
                MessageBoxW(nullptr, kplayer::text::kPasswordWrong, kplayer::text::kTitle,
                            MB_ICONWARNING);
        }
        if (!ok) {
            MessageBoxW(nullptr, kplayer::text::kPasswordRefused, kplayer::text::kTitle,
                        MB_ICONSTOP);
            return kExitDamaged;
        }
    }
    if (!decode(s)) {
        MessageBoxW(nullptr, kplayer::text::kDecodeFailed, kplayer::text::kTitle, MB_ICONSTOP);
        return 1;
    }
    g_sound = &s;
    RECT r{0, 0, 440, s.d.speedControl ? 224 : 188};
    AdjustWindowRect(&r, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, FALSE);
    HWND w = CreateWindowExW(0, L"KestrelPlayer", kplayer::text::kTitle,
                             WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE,
                             CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left, r.bottom - r.top,
                             nullptr, nullptr, inst, nullptr);
    if (!w) return 1;
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring decodeTo, password;
    bool havePassword = false;
    for (int i = 1; argv && i + 1 < argc; ++i) {
        if (std::wcscmp(argv[i], L"--decode-to") == 0) {
            decodeTo = argv[++i];
        } else if (std::wcscmp(argv[i], L"--password") == 0) {
            password = argv[++i];
            havePassword = true;
        }
    }
    if (argv) LocalFree(argv);

    Sound s;
    LoadResult lr = loadOwnFile(s);
    if (!decodeTo.empty()) {
        if (lr != LoadResult::Ok) return kExitDamaged;
        if (s.d.passwordOn && (!havePassword || toCodePage936(password) != s.d.password))
            return kExitDamaged;
        if (!decode(s)) return 1;
        return writeWav(decodeTo, s) ? 0 : 1;
    }
    if (lr != LoadResult::Ok) {
        MessageBoxW(nullptr,
                    lr == LoadResult::Damaged ? kplayer::text::kDamaged
                                              : kplayer::text::kUnreadable,
                    kplayer::text::kTitle, MB_ICONSTOP);
        return kExitDamaged;
    }
    return runWindow(inst, s);
}
