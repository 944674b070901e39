// The Chinese twins of the command line's usage errors (see localize.h): the
// English text, with "%s" for what is filled in, and its Chinese.
#pragma once

#include "cli/localize.h"

namespace kestrel::cli {

inline constexpr TextTwin kUsageTwins[] = {
    // {Chinese, English}
    {"未知的选项 %s", "unknown option %s"},
    {"%s 需要一个值", "%s needs a value"},
    {"没有给出文件", "no file given"},
    {"只能给出一个文件", "give exactly one file"},
    {"多余的参数 %s", "unexpected argument %s"},
    {"-t 需要以下之一：%s", "-t needs one of %s"},
    {"-j 需要任务数 1..%s", "-j needs a number of jobs 1..%s"},
    {"--threads 需要线程数 1..%s", "--threads needs a number of threads 1..%s"},
    {"--mode 需要 realtime、double 或 silent", "--mode needs realtime, double or silent"},
    {"-r 需要MPEG音频采样率（8000 ... 48000 Hz）",
     "-r needs an MPEG audio rate (8000 ... 48000 Hz)"},
    {"-r %s 不是AAC采样率", "-r %s is not an AAC rate"},
    {"--vbr 需要质量 0..9", "--vbr needs a quality 0..9"},
    {"--min 需要 8..160 kbit/s", "--min needs 8..160 kbit/s"},
    {"--max 需要 8..320 kbit/s", "--max needs 8..320 kbit/s"},
    {"--abr 需要 80..320 kbit/s", "--abr needs 80..320 kbit/s"},
    {"--mono 需要 mix、left 或 right", "--mono needs mix, left or right"},
    {"-b、--vbr 和 --abr 只能选一个", "choose one of -b, --vbr and --abr"},
    {"--min 和 --max 只用于 --vbr", "--min and --max go with --vbr"},
    {"-b %s 不是所选MPEG版本的 Layer III 码率",
     "-b %s is not a Layer III bit rate of the chosen MPEG version"},
    {"-b 需要以 kbit/s 为单位的码率", "-b needs a bit rate in kbit/s"},
    {"-o 需要文件夹或文件名", "-o needs a folder or a file name"},
    {"-o 需要文件夹", "-o needs a folder"},
    {"-o 需要文件名", "-o needs a file name"},
    {"--exe-password 需要 1..15 字节的密码", "--exe-password needs a password of 1..15 bytes"},
    {"--exe-description 需要GBK编码最多199字节的文字",
     "--exe-description needs a text of at most 199 bytes in GBK"},
    {"--exe-password、--exe-speed 和 --exe-description 只用于 -t exe",
     "--exe-password, --exe-speed and --exe-description go with -t exe"},
    {"--aac-rate 需要以下之一：%s bit/s", "--aac-rate needs one of %s bit/s"},
    {"--aac-profile 需要 lc、main、ssr 或 ltp", "--aac-profile needs lc, main, ssr or ltp"},
    {"--amr-mode 需要 0..7（4.75 ... 12.2 kbit/s）",
     "--amr-mode needs 0..7 (4.75 ... 12.2 kbit/s)"},
    {"--wma-codec 需要 0..%s（'kestrel-cli formats wma' 列出它们）",
     "--wma-codec needs 0..%s ('kestrel-cli formats wma' lists them)"},
    {"--wma-format 需要格式值（'kestrel-cli formats wma' 列出它们）",
     "--wma-format needs a format value ('kestrel-cli formats wma' lists them)"},
    {"--wma-format %s 不是WMA编码 %s 的格式（'kestrel-cli formats wma' 列出它们）",
     "--wma-format %s is not a format of WMA codec %s ('kestrel-cli formats wma' lists them)"},
    {"--password 需要密码", "--password needs the password"},
    {"--seconds 需要一个数字", "--seconds needs a number"},
    {"--seek 需要整数秒", "--seek needs whole seconds"},
    {"一次只能给出一个EXE文件", "one EXE at a time"},
    {"add 至少需要一个文件", "add needs at least one file"},
    {"delete 至少需要一个序号", "delete needs at least one serial number"},
    {"不是序号：%s", "not a serial number: %s"},
    {"未知的 list 命令 '%s'", "unknown list command '%s'"},
    {"formats 需要 wma", "formats needs wma"},
    {"get 需要设置的名称", "get needs a setting's name"},
    {"set 需要设置的名称和值", "set needs a setting's name and a value"},
    {"未知的设置 '%s'", "unknown setting '%s'"},
    {"未知的 settings 命令 '%s'", "unknown settings command '%s'"},
    {"--tag 需要 键=值，键是 title、artist、album、album_artist、track、disc、year、genre、"
     "comment 之一",
     "--tag needs KEY=VALUE with KEY one of title, artist, album, album_artist, track, disc, "
     "year, genre, comment"},
    {"--tag-charset 需要 auto、latin1 或 gb18030", "--tag-charset needs auto, latin1 or gb18030"},
    {"--name 需要模板，例如 '{artist} - {title}'",
     "--name needs a template such as '{artist} - {title}'"},
    {"--name 给文件夹中的生成文件命名：请给出 -o 目录/，不要用 -o 文件 或 --stamp",
     "--name names the outputs in a folder: give -o DIR/, not -o FILE or --stamp"},
};

} // namespace kestrel::cli
