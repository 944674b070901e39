#include "cli/cli.h"
#include "cli/convert_batch.h"
#include "cli/localize.h"
#include "cli/terminal.h"
#include "cli/texts.h"

#include "engine/settings/settings.h"
#include "engine/catalogue/disc_scan.h"
#include "engine/catalogue/media_list.h"
#include "engine/libraries/lib_mxscan.h"
#include "platform/paths.h"

#include <SDL.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <soxr.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/version.h>
#include <libavformat/version.h>
#include <libavutil/avutil.h>
#include <libswresample/version.h>
}

namespace kestrel::cli {

const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {"settings",
         cliText("show or change the settings (tavolin.ini)", "显示或修改设置（tavolin.ini）"),
         cliText("usage: kestrel-cli [--home DIR] settings\n"
                 "       kestrel-cli [--home DIR] settings get KEY...\n"
                 "       kestrel-cli [--home DIR] settings set KEY VALUE\n"
                 "       kestrel-cli [--home DIR] settings path\n"
                 "Loads tavolin.ini as the program does at start-up (writing back the default of\n"
                 "every missing or invalid key) and prints each setting as KEY=VALUE in load\n"
                 "order, with the value's meaning in brackets and the key's English alias in\n"
                 "square brackets (转换文件类型=1 (exe)  [output_type]), then the derived output\n"
                 "format.\n"
                 "KEY is the key of tavolin.ini (转换文件类型) or its English alias\n"
                 "(output_type). 'get' prints the settings named. 'set' checks VALUE as loading\n"
                 "does and writes it into the file; VALUE is a number as the file holds it or\n"
                 "the name of its meaning (mp3, exe, wav ...; mix, left, right; cbr, vbr, abr).\n"
                 "A value out of range or not in the key's list is refused with what is allowed\n"
                 "(exit status 2); an unknown key is wrong usage (1). A setting that the new\n"
                 "value makes invalid (a bit rate the new MPEG version lacks) is changed as\n"
                 "loading would; every setting changed is printed.\n"
                 "'path' prints where the settings file is.\n"
                 "A WMA format value (wma_format) of 5000 or more names a variable-bit-rate\n"
                 "format: WMA is encoded at constant bit rate only, so it is encoded as the\n"
                 "format of its value mod 5000, and a conversion says so.\n",
                 "用法: kestrel-cli [--home 目录] settings\n"
                 "      kestrel-cli [--home 目录] settings get 键...\n"
                 "      kestrel-cli [--home 目录] settings set 键 值\n"
                 "      kestrel-cli [--home 目录] settings path\n"
                 "按程序启动时的方式载入 tavolin.ini（缺少或无效的键写回默认值），按载入顺序\n"
                 "以 键=值 打印每个设置，括号内是值的含义，方括号内是键的英文别名\n"
                 "（转换文件类型=1 (exe)  [output_type]），最后是导出的输出格式。\n"
                 "键是 tavolin.ini 中的键（转换文件类型）或其英文别名（output_type）。\n"
                 "'get' 打印指定的设置。'set' 按载入规则检查值并写入文件；值是文件中的数字\n"
                 "或其含义的名称（mp3、exe、wav ...；mix、left、right；cbr、vbr、abr）。\n"
                 "超出范围或不在列表中的值被拒绝，并说明允许的值（退出状态 2）；未知的键是\n"
                 "用法错误（1）。因新值而失效的设置（新MPEG版本没有的码率）按载入规则更改；\n"
                 "打印每个被更改的设置。\n"
                 "'path' 打印设置文件的位置。\n"
                 "WMA编码参数（wma_format）为5000或以上时是可变速率格式：WMA只能以恒定速率编码，\n"
                 "按其值除以5000的余数所指的格式编码，转换时会提示。\n"),
         cmdSettings},
        {"list",
         cliText("show or edit the window's media list (mpginfo.dat)",
                 "显示或编辑窗口的多媒体文件列表（mpginfo.dat）"),
         cliText("usage: kestrel-cli [--home DIR] list [--json]\n"
                 "       kestrel-cli [--home DIR] list add FILE...\n"
                 "       kestrel-cli [--home DIR] list delete SERIAL...\n"
                 "       kestrel-cli [--home DIR] list save\n"
                 "The media list is the list of files the window shows and converts; it is kept\n"
                 "in mpginfo.dat beside tavolin.ini. 'list' loads it as at start-up and prints\n"
                 "the eight column texts of every row (序号 文件名称 大小 类型 时间 采样率 通道\n"
                 "其它), tab-separated with a header line on a terminal, or as JSON (--json).\n"
                 "'add' analyses the files and appends them (under their absolute paths);\n"
                 "'delete' removes the rows with those serial numbers; both save the list.\n"
                 "'save' writes the list back (dropping records whose files are gone).\n",
                 "用法: kestrel-cli [--home 目录] list [--json]\n"
                 "      kestrel-cli [--home 目录] list add 文件...\n"
                 "      kestrel-cli [--home 目录] list delete 序号...\n"
                 "      kestrel-cli [--home 目录] list save\n"
                 "多媒体文件列表是窗口显示和转换的文件列表，保存在 tavolin.ini 旁边的\n"
                 "mpginfo.dat 中。'list' 按启动时的方式载入列表，打印每行的八列文字（序号\n"
                 "文件名称 大小 类型 时间 采样率 通道 其它），以制表符分隔（在终端上带标题行），\n"
                 "或以 JSON 打印（--json）。\n"
                 "'add' 分析文件并加入列表（使用绝对路径）；'delete' 删除指定序号的行；两者都\n"
                 "保存列表。'save' 写回列表（去掉文件已不存在的记录）。\n"),
         cmdList},
        {"info",
         cliText("analyse media files and print what was found", "分析多媒体文件并打印结果"),
         cliText("usage: kestrel-cli info [--json] FILE...\n"
                 "Runs the media analysis on each file and prints what it found: the container,\n"
                 "codec, sample rate, channels, bit rate (kbit/s), duration in seconds (from the\n"
                 "frame count for MPEG audio, else the container's own) and the kind, then the\n"
                 "facts of its record not shown yet (typeName, fileSize, bitsPerSample,\n"
                 "formatDetail, streamDetail, startInfo): each fact once.\n"
                 "--json prints the records of convert --json (output null, source, seconds,\n"
                 "bytes, status 'analysed' or 'failed', reason), each followed by the facts\n"
                 "with typed numbers (path, container, codec, kindName, kbps, typeName, kind,\n"
                 "sampleRate, channels, durationSec, fileSize, bitRate, bitsPerSample,\n"
                 "formatDetail, streamDetail, startInfo); a refused file is a record too.\n"
                 "A refused file prints the analysis message; the command then exits with\n"
                 "status 2.\n"
                 "A self-playing EXE made by this program shows its descriptor instead:\n"
                 "playing time, sample rate, channels, MPEG version, speed control and password\n"
                 "flags, the description and whether its data is whole.\n"
                 "The file's tags follow (title, artist, album, album_artist, track, disc,\n"
                 "year, genre, comment, cover; under \"tags\" with --json); --tag-charset\n"
                 "auto, latin1 or gb18030 says how 8-bit tags are read (see convert).\n",
                 "用法: kestrel-cli info [--json] 文件...\n"
                 "对每个文件进行多媒体分析并打印结果：容器、编码、采样率、通道数、码率\n"
                 "（kbit/s）、时长（秒；MPEG音频按帧数计算，否则取容器自身的时长）和类别，\n"
                 "然后是记录中尚未显示的各项（typeName、fileSize、bitsPerSample、formatDetail、\n"
                 "streamDetail、startInfo）：每项只出现一次。\n"
                 "--json 打印与 convert --json 相同的记录（output 为 null、source、seconds、\n"
                 "bytes、status 为 analysed 或 failed、reason），其后是数字带类型的各项（path、\n"
                 "container、codec、kindName、kbps、typeName、kind、sampleRate、channels、\n"
                 "durationSec、fileSize、bitRate、bitsPerSample、formatDetail、streamDetail、\n"
                 "startInfo）；被拒绝的文件也有记录。\n"
                 "被拒绝的文件打印分析消息，命令以状态 2 退出。\n"
                 "本程序生成的播放EXE文件则显示其描述块：播放时间、采样率、通道数、MPEG版本、\n"
                 "调速和密码标志、描述文字以及数据是否完整。\n"
                 "随后是文件的标签（title、artist、album、album_artist、track、disc、year、\n"
                 "genre、comment、cover；--json 时在 \"tags\" 中）；--tag-charset auto、latin1\n"
                 "或 gb18030 指定8位标签的读法（见 convert）。\n"),
         cmdInfo},
        {"fast",
         cliText("copy the MPEG audio of a file into an .mp3 without re-encoding",
                 "不重新编码，把文件的MPEG音频复制到 .mp3 文件"),
         cliText(
             "usage: kestrel-cli fast [-o DIR] [-y] [-q] [--json] FILE\n"
             "Copies every MPEG audio frame of an MPEG program or transport stream, or of an\n"
             "MPEG audio file, unchanged into DIR/<name>.mp3.\n"
             "  -o DIR   the output folder, created when missing (default: the current folder)\n"
             "  -y       replace an existing output (default: keep it, skip the file, exit 2)\n"
             "  -q       no status texts and no progress\n"
             "  --json   print the record as a JSON array, as convert --json does\n"
             "Ctrl-C stops and keeps every frame copied so far. Prints the record of convert:\n"
             "OUTPUT<TAB>SOURCE<TAB>SECONDS<TAB>BYTES<TAB>STATUS<TAB>REASON (--json adds the\n"
             "number of frames). Exit status 2 when the file gave no MPEG audio frame (no sound) "
             "or "
             "its\n"
             "output exists; 130 stopped by Ctrl-C, 143 by SIGTERM.\n",
             "用法: kestrel-cli fast [-o 目录] [-y] [-q] [--json] 文件\n"
             "把MPEG节目流或传输流、或MPEG音频文件的每个MPEG音频帧原样复制到 目录/<名称>.mp3。\n"
             "  -o 目录  生成文件的文件夹，不存在时建立（默认：当前文件夹）\n"
             "  -y       替换已存在的生成文件（默认：保留它，跳过该文件，退出状态 2）\n"
             "  -q       不显示状态文字和进度\n"
             "  --json   以 JSON 数组打印记录，与 convert --json 相同\n"
             "Ctrl-C 停止并保留已复制的每一帧。打印 convert 的记录：\n"
             "生成文件<TAB>源文件<TAB>秒数<TAB>字节数<TAB>状态<TAB>原因（--json 另含帧数）。\n"
             "文件没有任何MPEG音频帧（没有声音）或生成文件已存在时退出状态为 2；被 Ctrl-C\n"
             "停止为 130，被 SIGTERM 停止为 143。\n"),
         cmdFast},
        {"convert", cliText("convert the sound of media files", "转换多媒体文件的声音"),
         cliText(
             "usage: kestrel-cli convert [OPTIONS] [--] FILE...\n"
             "Converts the files' sound, one output per file or all joined (--join).\n"
             "Each file on its own: one that is refused or fails is named on stderr with\n"
             "the reason, and the others are converted. FILE '-' is standard input.\n"
             "\n"
             "Output:\n"
             "  -o DIR/      put the outputs into DIR, created when missing; an existing\n"
             "               folder needs no '/' (default: the current folder)\n"
             "  -o FILE.ext  the name of the one output (one FILE, or --join); its extension\n"
             "               gives the type when -t is absent. Any other name is refused\n"
             "               with the list of output extensions (exit 1)\n"
             "  -o -         write the one output to standard output: mp3, wav, aac, adts\n"
             "               and amr only; nothing else goes to stdout\n"
             "  --json       print the records as one JSON array (see below)\n"
             "  -t TYPE      the output type: mp3 exe wav wma aac (raw AAC) adts (MPEG-2 AAC\n"
             "               with ADTS headers) m4a (MP4 AAC) amr (8000 Hz mono) flv avi;\n"
             "               default: the type of -o FILE.ext, else mp3. flv and avi hold MP3\n"
             "               at 44100 Hz and 128 kbit/s, or at 22050 or 11025 Hz (another -r\n"
             "               gives 22050) and 64 kbit/s\n"
             "  --join       one output for all files, named after the first (default: one\n"
             "               output per file, named after it: clip1.mpg -> clip1.mp3)\n"
             "  --stamp      time-stamped names as the window gives them (yyyymmddhhmmss\n"
             "               before the name; a name that is taken gets _2, _3 ...)\n"
             "  -y           replace outputs that exist (default: like ffmpeg -n, an output\n"
             "               that exists is kept, its file skipped with a message, exit 2);\n"
             "               the earlier file goes only once the new one is finished\n"
             "  --name T     name the outputs in the folder from their tags: T is a template\n"
             "               such as '{artist} - {title}' with the fields {title} {artist}\n"
             "               {album} {album_artist} {track} {disc} {year} {genre} {stem};\n"
             "               an empty tag gives the source's name, '/' becomes '_'\n"
             "\n"
             "Tags (title, artist, album, album artist, track, disc, year, genre, comment\n"
             "and cover go from each source into MP3, M4A, WMA and WAV outputs; a joined\n"
             "output gets those all its files share, without a track number):\n"
             "  --no-tags    carry no tags of the sources (only those of --tag)\n"
             "  --tag K=V    set tag K (title artist album album_artist track disc year\n"
             "               genre comment) in every output; repeatable\n"
             "  --tag-charset C  how 8-bit tags (ID3v1, ID3v2 marked ISO-8859-1) are read:\n"
             "               auto (default: GBK when the bytes are Chinese text, else\n"
             "               Latin-1), latin1 or gb18030\n"
             "\n"
             "Sound (options override the settings for this run only):\n"
             "  --mode M     realtime, double (with sound) or silent (default: silent, as\n"
             "               fast as possible)\n"
             "  -b KBPS      MP3 constant bit rate, a Layer III rate of the MPEG version\n"
             "               (default: the stored setting)\n"
             "  --vbr Q      MP3 variable bit rate of quality 0..9, like lame -V Q: the whole\n"
             "               Layer III range of the MPEG version (32-320 kbit/s for MPEG-1,\n"
             "               8-160 for MPEG-2 and 2.5) unless --min/--max are given\n"
             "  --min K      the least VBR bit rate, 8..160 kbit/s (with --vbr)\n"
             "  --max K      the greatest VBR bit rate, 8..320 kbit/s (with --vbr)\n"
             "  --abr KBPS   MP3 average bit rate, 80..320 kbit/s\n"
             "  -r RATE      the output sample rate (8000 ... 48000 Hz); it also picks the\n"
             "               MPEG version that has it (default: the stored setting). An AMR\n"
             "               source converts only at 8000 or 11025 Hz: without -r it is\n"
             "               converted at 11025 Hz (said once), with another -r it fails\n"
             "  --mono M     one channel: mix, left or right (default: the stored setting)\n"
             "               -r and --mono set the AAC types' own rate and channels, and\n"
             "               --mono the channel AMR takes\n"
             "  --aac-rate BPS  AAC bit rate: 64000 80000 96000 112000 128000 160000 192000\n"
             "               224000 256000 bit/s (default: the stored setting)\n"
             "  --aac-profile P  AAC profile: lc, main, ssr (encoded as lc) or ltp (MPEG-2\n"
             "               ADTS: main) (default: the stored setting)\n"
             "  --amr-mode N AMR bit rate 0..7: 4.75 5.15 5.9 6.7 7.4 7.95 10.2 12.2 kbit/s\n"
             "  --wma-codec N --wma-format N  the WMA codec and its format value, as\n"
             "               'kestrel-cli formats wma' lists them (the format gives the\n"
             "               WMA's rate and channels)\n"
             "\n"
             "Self-playing EXE (-t exe; a Windows program that plays its sound):\n"
             "  --exe-password P     ask for the password P (at most 15 bytes) before\n"
             "                       playing (default: no password)\n"
             "  --exe-speed          give the player a speed control, 0.5x to 2x at the same\n"
             "                       pitch (default: none)\n"
             "  --exe-description T  the text the player shows (at most 199 bytes in GBK;\n"
             "                       default: the stored description)\n"
             "  The password keeps casual listeners out; it is not encryption.\n"
             "\n"
             "Running:\n"
             "  -j N         convert N files at once, each in a process of its own (default:\n"
             "               the number of processors); the outputs are the same as with\n"
             "               -j 1, which converts one file after the other in this process.\n"
             "               A joined output is one job.\n"
             "  --threads N  encode one long MP3, EXE, WMA, FLV, AVI or AAC output on N\n"
             "               threads (default: the processors, shared with -j, for silent\n"
             "               outputs longer than a minute, AAC two minutes, not AAC Main);\n"
             "               1 encodes on one thread\n"
             "  --progress   progress lines on stderr also when it is no terminal (default:\n"
             "               a progress line only on a terminal)\n"
             "  -q           no status texts and no progress (default: both)\n"
             "  -v           the decoding libraries' own log lines too (default: silenced)\n"
             "  --           ends the options: every argument after it is a file\n"
             "Options take their value as the next argument or after '=' (--mode=double).\n"
             "A write that fails (disk full) stops that file's conversion; its output keeps\n"
             "what was written, finished so that it plays.\n"
             "\n"
             "On a terminal one progress line shows the entry n/m, its name, percent,\n"
             "position/length, speed (x real time) and time left; with several files at\n"
             "once, the files finished (n/m done) and the ones being converted.\n"
             "Prints one record per file: with --json one JSON array of objects (output,\n"
             "source, seconds, bytes, status, reason), refused files included; else one line\n"
             "per output written: OUTPUT<TAB>SOURCE<TAB>SECONDS<TAB>BYTES<TAB>STATUS<TAB>REASON\n"
             "with absolute paths. STATUS is converted, incomplete (a write or its finishing\n"
             "failed, or a stop ended it: 'stopped at N s'), no-sound, failed or skipped.\n"
             "fast, extract and info print the same records. Every file whose sound was not\n"
             "converted is named on stderr with the reason.\n"
             "\n"
             "Exit status: 0 every file converted; 1 wrong usage; 2 a file was refused,\n"
             "its output existed, or it gave no output, no sound or an incomplete output;\n"
             "130 stopped by Ctrl-C, 143 by SIGTERM (the current outputs are finished\n"
             "properly and listed as stopped, the rest skipped).\n",
             "用法: kestrel-cli convert [选项] [--] 文件...\n"
             "转换文件的声音，每个文件生成一个文件，或全部合并为一个（--join）。\n"
             "每个文件各自处理：被拒绝或失败的文件在 stderr 上说明原因，其他文件照常转换。\n"
             "文件 '-' 是标准输入。\n"
             "\n"
             "生成文件:\n"
             "  -o 目录/     把生成文件放入该目录，不存在时建立；已存在的文件夹不需要 '/'\n"
             "               （默认：当前文件夹）\n"
             "  -o 文件.ext  唯一生成文件的名称（一个文件，或 --join）；没有 -t 时由扩展名\n"
             "               决定类型。其他名称被拒绝，并列出生成文件的扩展名（退出状态 1）\n"
             "  -o -         把唯一的生成文件写到标准输出：只限 mp3、wav、aac、adts 和 amr；\n"
             "               标准输出上没有别的内容\n"
             "  --json       以一个 JSON 数组打印记录（见下文）\n"
             "  -t 类型      生成文件类型：mp3 exe wav wma aac（原始AAC）adts（带ADTS头的\n"
             "               MPEG-2 AAC）m4a（MP4 AAC）amr（8000 Hz 单声道）flv avi；默认：\n"
             "               -o 文件.ext 的类型，否则 mp3。flv 和 avi 含 44100 Hz 128 kbit/s 的\n"
             "               MP3，或 22050 或 11025 Hz（其他 -r 按 22050）64 kbit/s 的MP3\n"
             "  --join       所有文件生成一个文件，以第一个文件命名（默认：每个文件生成一个\n"
             "               同名文件：clip1.mpg -> clip1.mp3）\n"
             "  --stamp      按窗口的方式加时间戳命名（名称前加 yyyymmddhhmmss；名称已被\n"
             "               占用时加 _2、_3 ...）\n"
             "  -y           替换已存在的生成文件（默认：与 ffmpeg -n 一样，保留已存在的文件，\n"
             "               跳过其源文件并给出消息，退出状态 2）；新文件完成后才删除旧文件\n"
             "  --name T     按标签给文件夹中的生成文件命名：T 是模板，例如\n"
             "               '{artist} - {title}'，字段有 {title} {artist} {album}\n"
             "               {album_artist} {track} {disc} {year} {genre} {stem}；空标签取\n"
             "               源文件的名称，'/' 变为 '_'\n"
             "\n"
             "标签（标题、艺术家、专辑、专辑艺术家、音轨、碟号、年份、流派、注释和封面从每个\n"
             "源文件写入 MP3、M4A、WMA 和 WAV 生成文件；合并的生成文件取其所有文件共有的\n"
             "标签，不含音轨号）:\n"
             "  --no-tags    不带源文件的标签（只带 --tag 给出的）\n"
             "  --tag K=V    在每个生成文件中设置标签 K（title artist album album_artist\n"
             "               track disc year genre comment）；可重复\n"
             "  --tag-charset C  8 位标签（ID3v1、标为 ISO-8859-1 的 ID3v2）的读法：auto\n"
             "               （默认：字节是中文文字时按 GBK，否则按 Latin-1）、latin1 或\n"
             "               gb18030\n"
             "\n"
             "声音（选项只对本次运行覆盖设置）:\n"
             "  --mode M     realtime、double（有声）或 silent（默认：silent，尽快转换）\n"
             "  -b KBPS      MP3恒定码率，所选MPEG版本的 Layer III 码率（默认：保存的设置）\n"
             "  --vbr Q      MP3可变码率，质量 0..9，与 lame -V Q 相同：没有 --min/--max 时为\n"
             "               该MPEG版本的整个 Layer III 范围（MPEG-1 为 32-320 kbit/s，MPEG-2 和\n"
             "               2.5 为 8-160）\n"
             "  --min K      最小VBR码率，8..160 kbit/s（与 --vbr 一起）\n"
             "  --max K      最大VBR码率，8..320 kbit/s（与 --vbr 一起）\n"
             "  --abr KBPS   MP3平均码率，80..320 kbit/s\n"
             "  -r RATE      输出采样率（8000 ... 48000 Hz）；同时选择含该采样率的MPEG版本\n"
             "               （默认：保存的设置）。AMR源文件只能以 8000 或 11025 Hz 转换：\n"
             "               没有 -r 时以 11025 Hz 转换（说明一次），给出其他 -r 时该文件失败\n"
             "  --mono M     单声道：mix、left 或 right（默认：保存的设置）\n"
             "               -r 和 --mono 设置AAC类型自己的采样率和声道，--mono 也设置AMR\n"
             "               所取的声道\n"
             "  --aac-rate BPS  AAC码率：64000 80000 96000 112000 128000 160000 192000\n"
             "               224000 256000 bit/s（默认：保存的设置）\n"
             "  --aac-profile P  AAC类型：lc、main、ssr（按 lc 编码）或 ltp（MPEG-2 ADTS：\n"
             "               main）（默认：保存的设置）\n"
             "  --amr-mode N AMR码率 0..7：4.75 5.15 5.9 6.7 7.4 7.95 10.2 12.2 kbit/s\n"
             "  --wma-codec N --wma-format N  WMA编码及其格式值，见 'kestrel-cli formats wma'\n"
             "               （格式决定WMA的采样率和声道）\n"
             "\n"
             "播放EXE文件（-t exe；播放其声音的 Windows 程序）:\n"
             "  --exe-password P     播放前要求输入密码 P（最多 15 字节）（默认：无密码）\n"
             "  --exe-speed          播放程序带调速，0.5 到 2 倍，音调不变（默认：无）\n"
             "  --exe-description T  播放程序显示的文字（GBK 最多 199 字节；默认：保存的描述）\n"
             "  密码只能挡住随意的听众，不是加密。\n"
             "\n"
             "运行:\n"
             "  -j N         同时转换 N 个文件，每个在自己的进程中（默认：处理器个数）；\n"
             "               生成文件与 -j 1（在本进程中逐个转换）相同。合并输出是一个任务。\n"
             "  --threads N  用 N 个线程编码一个长的 MP3、EXE、WMA、FLV、AVI 或 AAC 输出\n"
             "               （默认：处理器个数，与 -j 共用，用于超过一分钟的静音转换，\n"
             "               AAC 超过两分钟，AAC Main 除外）；1 只用一个线程\n"
             "  --progress   stderr 不是终端时也打印进度行（默认：只在终端上显示进度行）\n"
             "  -q           不显示状态文字和进度（默认：都显示）\n"
             "  -v           也显示解码库自己的日志（默认：不显示）\n"
             "  --           结束选项：其后的每个参数都是文件\n"
             "选项的值跟在选项之后，或写在 '=' 之后（--mode=double）。\n"
             "写入失败（磁盘已满）时停止该文件的转换；生成文件保留已写入的部分，并正常结束\n"
             "以便播放。\n"
             "\n"
             "在终端上，一行进度显示第 n/m 项、名称、百分比、位置/长度、速度（实时的倍数）\n"
             "和剩余时间；同时转换多个文件时显示已完成的文件数和正在转换的文件。\n"
             "每个文件打印一条记录：有 --json 时为一个对象数组（output、source、seconds、\n"
             "bytes、status、reason），含被拒绝的文件；否则每个写出的生成文件一行：\n"
             "生成文件<TAB>源文件<TAB>秒数<TAB>字节数<TAB>状态<TAB>原因，路径为绝对路径。\n"
             "状态为 converted、incomplete（写入或结束失败，或被停止：'stopped at N s'）、\n"
             "no-sound、failed 或 skipped。fast、extract 和 info 打印同样的记录。声音没有\n"
             "转换的每个文件都在 stderr 上说明原因。\n"
             "\n"
             "退出状态: 0 每个文件都已转换；1 用法错误；2 有文件被拒绝、生成文件已存在，或\n"
             "没有生成文件、没有声音或生成文件不完整；130 被 Ctrl-C 停止，143 被 SIGTERM 停止\n"
             "（当前的生成文件正常结束并列为停止，其余跳过）。\n"),
         cmdConvert},
        {"extract",
         cliText("write the MP3 inside a self-playing EXE made by this program",
                 "写出本程序生成的播放EXE文件中的MP3"),
         cliText(
             "usage: kestrel-cli extract [-o OUT.mp3] [-y] [--password P] [--json] FILE.exe\n"
             "Writes the MP3 data of a self-playing EXE that this program made (convert -t\n"
             "exe) into an .mp3 file, unchanged, so that the sound can be had back from the\n"
             "EXE alone. 'info FILE.exe' shows what the EXE holds.\n"
             "  -o OUT.mp3     the output (default: the EXE's name with .mp3 in the current\n"
             "                 folder)\n"
             "  -y             replace an output that exists (default: keep it, exit 2)\n"
             "  --password P   the EXE's password, when it has one\n"
             "  --json         print the record as a JSON array, as convert --json does\n"
             "Prints the record of convert: OUTPUT<TAB>SOURCE<TAB>SECONDS<TAB>BYTES<TAB>STATUS\n"
             "<TAB>REASON. Exit status 2 when the file is no such EXE, is damaged (its CRC does "
             "not\n"
             "match), the password is missing or wrong, or the output exists.\n",
             "用法: kestrel-cli extract [-o 输出.mp3] [-y] [--password 密码] [--json] 文件.exe\n"
             "把本程序生成的播放EXE文件（convert -t exe）中的MP3数据原样写入 .mp3 文件，\n"
             "只凭EXE文件就能取回声音。'info 文件.exe' 显示EXE文件的内容。\n"
             "  -o 输出.mp3    生成文件（默认：当前文件夹中与EXE同名的 .mp3）\n"
             "  -y             替换已存在的生成文件（默认：保留它，退出状态 2）\n"
             "  --password 密码  EXE文件有密码时给出密码\n"
             "  --json         以 JSON 数组打印记录，与 convert --json 相同\n"
             "打印 convert 的记录：生成文件<TAB>源文件<TAB>秒数<TAB>字节数<TAB>状态<TAB>原因。\n"
             "文件不是这样的EXE、已损坏（CRC不符）、缺少密码或密码错误、生成文件已存在时，\n"
             "退出状态为 2。\n"),
         cmdExtract},
        {"play", cliText("play a media file", "播放多媒体文件"),
         cliText("usage: kestrel-cli play [--seconds N] [--seek S] [--] FILE\n"
                 "Plays the file's sound as a conversion would produce it. On a terminal, space\n"
                 "or p pauses and resumes, q stops.\n"
                 "  --seconds N  stop after N seconds (default: play to the end)\n"
                 "  --seek S     start at second S (default: 0)\n"
                 "Exit status 2 when nothing can be heard (no sound device, or the rate and\n"
                 "channels cannot be changed), with the reason on stderr; 130 stopped by Ctrl-C.\n",
                 "用法: kestrel-cli play [--seconds N] [--seek S] [--] 文件\n"
                 "按转换所生成的样子播放文件的声音。在终端上，空格或 p 暂停和继续，q 停止。\n"
                 "  --seconds N  N 秒后停止（默认：播放到结尾）\n"
                 "  --seek S     从第 S 秒开始（默认：0）\n"
                 "什么也听不到时（没有声音设备，或无法转换采样率和声道）退出状态为 2，原因写在\n"
                 "stderr；被 Ctrl-C 停止为 130。\n"),
         cmdPlay},
        {"formats",
         cliText("list the WMA codecs and formats with their values", "列出WMA编码和格式及其值"),
         cliText("usage: kestrel-cli formats wma\n"
                 "Lists the WMA codecs (codec N: name) and under each its formats, one a line:\n"
                 "the value that --wma-codec and --wma-format (and the settings wma_codec and\n"
                 "wma_format) take, a tab and the format (\"128 kbps, 44 kHz, stereo CBR\").\n"
                 "Every format is constant bit rate; a stored format value of 5000 or more (the\n"
                 "variable-bit-rate values) is read as the format of its value mod 5000.\n",
                 "用法: kestrel-cli formats wma\n"
                 "列出WMA编码（codec N: 名称），每个编码下每行一个格式：--wma-codec 和\n"
                 "--wma-format（以及设置 wma_codec 和 wma_format）所取的值、制表符和格式\n"
                 "（\"128 kbps, 44 kHz, stereo CBR\"）。\n"
                 "每个格式都是恒定码率；保存的格式值为 5000 或以上（可变码率的值）时按其除以\n"
                 "5000 的余数读取。\n"),
         cmdFormats},
    };
    return list;
}

const Command* findCommand(const char* name) {
    for (const auto& c : commands())
        if (std::string(c.name) == name) return &c;
    return nullptr;
}

int usageError(const Command& cmd, const std::string& text) {
    std::fprintf(stderr,
                 cliText("kestrel-cli %s: %s (see 'kestrel-cli %s --help')\n",
                         "kestrel-cli %s: %s（见 'kestrel-cli %s --help'）\n"),
                 cmd.name, localizeUsage(text).c_str(), cmd.name);
    return kUsage;
}

bool wantsHelp(const Args& args) {
    for (const auto& a : args) {
        if (a == "--") break;
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

GlobalOptions globalOptions;

std::string currentFolder() {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

std::string folderPath(const std::string& folder) {
    return folder.ends_with('/') ? folder : folder + "/";
}

void printHelp(const Command& cmd) {
    std::fputs(cmd.usage, stdout);
}

void startEngine(bool withList, bool withProbe) {
    // What runs of this host that were killed left in the program folder.
    removeStaleTempFiles();
    // The command line reads the settings without writing them; what it
    // cannot use is named once.
    const SettingsLoadReport loaded = loadSettings(false);
    if (!loaded.unusable.empty()) {
        std::string names;
        for (const auto& u : loaded.unusable)
            names += (names.empty() ? "" : ", ") + u;
        std::fprintf(stderr,
                     cliText("kestrel-cli: %s: values not usable, their defaults apply: %s\n",
                             "kestrel-cli: %s：以下设置值不能使用，取默认值：%s\n"),
                     settingsPath().c_str(), names.c_str());
    }
    if (loaded.keysFound == 0 && fileSize(settingsPath()) > 0)
        std::fprintf(stderr,
                     cliText("kestrel-cli: %s holds no settings: the defaults apply\n",
                             "kestrel-cli: %s 中没有设置，各项取默认值\n"),
                     settingsPath().c_str());
    // The stream probe is loaded once for the whole run, as at start-up.
    if (withProbe && !mxscanLoaded() && loadMxscan() < 0) std::exit(kRefused);
    derive_output_format();
    if (withList) {
        // As the window starts: the discs' tracks first, then the stored list.
        scanDiscs();
        loadMediaList();
    }
}

namespace {

// The length of the UTF-8 sequence at `p` (`n` bytes available), or 0 when
// it is not one (overlong forms, surrogates and values above U+10FFFF are not).
size_t utf8Length(const unsigned char* p, size_t n) {
    unsigned c = p[0];
    size_t len = c < 0x80             ? 1
                 : (c & 0xE0) == 0xC0 ? 2
                 : (c & 0xF0) == 0xE0 ? 3
                 : (c & 0xF8) == 0xF0 ? 4
                                      : 0;
    if (len == 0 || len > n) return 0;
    unsigned v = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        v = (v << 6) | (p[i] & 0x3F);
    }
    static const unsigned least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < least[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    return len;
}

} // namespace

std::string jsonString(const std::string& s) {
    std::string o = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = p[i];
        size_t len = utf8Length(p + i, s.size() - i);
        if (len > 1) {
            o.append(s, i, len);
            i += len;
            continue;
        }
        ++i;
        switch (c) {
        case '"':
            o += "\\\"";
            break;
        case '\\':
            o += "\\\\";
            break;
        case '\n':
            o += "\\n";
            break;
        case '\r':
            o += "\\r";
            break;
        case '\t':
            o += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F || len == 0) {
                char b[8];
                std::snprintf(b, sizeof b, "\\u%04x", c);
                o += b;
            } else {
                o += static_cast<char>(c);
            }
        }
    }
    return o + "\"";
}

std::string jsonNumber(double v, int decimals) {
    if (!std::isfinite(v)) return "null";
    char b[64];
    if (decimals < 0)
        std::snprintf(b, sizeof b, "%.17g", v);
    else
        std::snprintf(b, sizeof b, "%.*f", decimals, v);
    return b;
}

namespace {

void printToolHelp() {
    std::fputs(
        cliText("usage: kestrel-cli [OPTIONS] COMMAND [ARGS...]\n"
                "       kestrel-cli help COMMAND\n"
                "\n"
                "岚石多媒体MP3转换器: converts the sound of multimedia files to audio files.\n"
                "\n"
                "Options:\n"
                "  --home DIR   keep tavolin.ini, mpginfo.dat and tmp/ in DIR\n"
                "               (default: $KESTREL_HOME, the program's folder when writable,\n"
                "               else $XDG_DATA_HOME/kestrel)\n"
                "  -q           quiet: no status texts and no progress\n"
                "  -v           verbose: the decoding libraries' own log lines too\n"
                "  --version    show the version and the libraries it runs on\n"
                "  -h, --help   show this help; 'kestrel-cli help COMMAND' for a command\n"
                "Options take their value as the next argument or after '=' (--home=DIR);\n"
                "'--' ends the options (what follows are files).\n"
                "\n"
                "Commands:\n",
                "用法: kestrel-cli [选项] 命令 [参数...]\n"
                "      kestrel-cli help 命令\n"
                "\n"
                "岚石多媒体MP3转换器：把多媒体文件的声音转换为音频文件。\n"
                "\n"
                "选项:\n"
                "  --home 目录  在该目录中保存 tavolin.ini、mpginfo.dat 和 tmp/\n"
                "               （默认：$KESTREL_HOME；程序所在文件夹可写时为该文件夹，\n"
                "               否则为 $XDG_DATA_HOME/kestrel）\n"
                "  -q           安静：不显示状态文字和进度\n"
                "  -v           详细：也显示解码库自己的日志\n"
                "  --version    显示版本和所用的库\n"
                "  -h, --help   显示本帮助；'kestrel-cli help 命令' 显示命令的帮助\n"
                "选项的值跟在选项之后，或写在 '=' 之后（--home=目录）；\n"
                "'--' 结束选项（其后都是文件）。\n"
                "\n"
                "命令:\n"),
        stdout);
    for (const auto& c : commands())
        std::printf("  %-10s %s\n", c.name, c.summary);
    std::fputs(
        cliText("\n"
                "Examples:\n"
                "  kestrel-cli convert *.mpg AVSEQ01.DAT\n"
                "      one MP3 per file, named after it, in the current folder\n"
                "  kestrel-cli convert -t wav -o out/ clip.vob ring.amr\n"
                "      WAV files in out/ (the AMR ring tone at 11025 Hz)\n"
                "  kestrel-cli convert --join -o all.m4a a.mp4 b.flv\n"
                "      one MP4 (AAC) file of both\n"
                "  cat clip.vob | kestrel-cli convert -t mp3 -o - - | ffplay -nodisp -\n"
                "      standard input to standard output\n"
                "  kestrel-cli convert --json -o out/ *.mp4\n"
                "      the records of the conversion as one JSON array\n"
                "  kestrel-cli fast -o out/ AVSEQ01.DAT\n"
                "      the MPEG audio of a VCD track, copied without re-encoding\n"
                "  kestrel-cli info --json song.mp3\n"
                "\n"
                "Exit status:\n"
                "  0    success\n"
                "  1    wrong usage (an unknown command or option, -o with an extension that\n"
                "       names no output type)\n"
                "  2    an operation was refused or failed: a file refused, an output that\n"
                "       exists (not replaced without -y), a conversion entry without output,\n"
                "       without sound or with an incomplete output, playback without a sound\n"
                "       device; the other files of a batch are converted all the same\n"
                "  130  stopped by Ctrl-C; 143 by SIGTERM\n"
                "\n"
                "Files:\n"
                "  tavolin.ini  the settings ('kestrel-cli settings path' shows where)\n"
                "  mpginfo.dat  the window's media list, beside the settings\n"
                "  tmp/         intermediate files, beside the settings\n"
                "\n"
                "Environment:\n"
                "  KESTREL_HOME  the folder of the settings and the media list\n"
                "  LC_ALL, LC_MESSAGES, LANG  the first one set chooses the language: zh_*\n"
                "               Chinese, any other English (no installed locale is needed)\n"
                "  TMPDIR       where standard input (-) and an output for standard output\n"
                "               are kept while they are converted (default: /tmp)\n"
                "  SDL_AUDIODRIVER  the sound driver of play and of conversions with sound\n"
                "\n"
                "See also:\n"
                "  ffmpeg(1), ffprobe(1), lame(1), sox(1), mpg123(1)\n",
                "\n"
                "示例:\n"
                "  kestrel-cli convert *.mpg AVSEQ01.DAT\n"
                "      每个文件生成一个同名的 MP3，放在当前文件夹\n"
                "  kestrel-cli convert -t wav -o out/ clip.vob ring.amr\n"
                "      在 out/ 中生成 WAV 文件（AMR 铃声以 11025 Hz 转换）\n"
                "  kestrel-cli convert --join -o all.m4a a.mp4 b.flv\n"
                "      两个文件合并为一个 MP4 (AAC) 文件\n"
                "  cat clip.vob | kestrel-cli convert -t mp3 -o - - | ffplay -nodisp -\n"
                "      从标准输入读，写到标准输出\n"
                "  kestrel-cli convert --json -o out/ *.mp4\n"
                "      以一个 JSON 数组打印转换的记录\n"
                "  kestrel-cli fast -o out/ AVSEQ01.DAT\n"
                "      不重新编码，复制 VCD 轨道的 MPEG 音频\n"
                "  kestrel-cli info --json song.mp3\n"
                "\n"
                "退出状态:\n"
                "  0    成功\n"
                "  1    用法错误（未知的命令或选项，-o 的扩展名不是生成文件类型）\n"
                "  2    操作被拒绝或失败：文件被拒绝，输出文件已存在（没有 -y 时不替换），\n"
                "       转换项没有输出、没有声音或输出不完整，播放时没有声音设备；批量中\n"
                "       其他文件照常转换\n"
                "  130  被 Ctrl-C 停止；143 被 SIGTERM 停止\n"
                "\n"
                "文件:\n"
                "  tavolin.ini  设置（'kestrel-cli settings path' 显示其位置）\n"
                "  mpginfo.dat  窗口的多媒体文件列表，在设置文件旁边\n"
                "  tmp/         中间文件，在设置文件旁边\n"
                "\n"
                "环境变量:\n"
                "  KESTREL_HOME  设置和多媒体文件列表所在的文件夹\n"
                "  LC_ALL、LC_MESSAGES、LANG  第一个有值的变量决定语言：zh_* 为中文，\n"
                "               其他为英文（不需要安装语言环境）\n"
                "  TMPDIR       转换时暂存标准输入（-）和写往标准输出的文件的位置\n"
                "               （默认：/tmp）\n"
                "  SDL_AUDIODRIVER  播放和有声转换所用的声音驱动\n"
                "\n"
                "参见:\n"
                "  ffmpeg(1)、ffprobe(1)、lame(1)、sox(1)、mpg123(1)\n"),
        stdout);
}

// The version of a library loaded by name, through its version call.
std::string loadedVersion(const char* file, const char* symbol, bool withNumbers) {
    void* h = ::dlopen(file, RTLD_LAZY | RTLD_LOCAL);
    if (!h) return "not found";
    std::string v = "unknown version";
    void* f = ::dlsym(h, symbol);
    if (f && withNumbers) {
        unsigned major = 0, minor = 0, patch = 0;
        auto call = reinterpret_cast<const char* (*)(unsigned*, unsigned*, unsigned*)>(f);
        if (const char* t = call(&major, &minor, &patch)) v = t;
    } else if (f) {
        if (const char* t = reinterpret_cast<const char* (*)()>(f)()) v = t;
    } else if (void* any = ::dlsym(h, "mpg123_init")) {
        // Without a version call: the name of the file it was loaded from.
        Dl_info info{};
        char real[4096];
        if (::dladdr(any, &info) && info.dli_fname && ::realpath(info.dli_fname, real))
            v = std::strrchr(real, '/') ? std::strrchr(real, '/') + 1 : real;
    }
    ::dlclose(h);
    return v;
}

void printVersion() {
    std::printf("kestrel-cli %s (岚石多媒体MP3转换器 标准版 V4.00)\n", KESTREL_VERSION);
    std::puts("Libraries:");
    std::printf("  FFmpeg   %s (libavformat %s, libavcodec %s, libavutil %s, libswresample %s)\n",
                av_version_info() ? av_version_info() : "-", AV_STRINGIFY(LIBAVFORMAT_VERSION),
                AV_STRINGIFY(LIBAVCODEC_VERSION), AV_STRINGIFY(LIBAVUTIL_VERSION),
                AV_STRINGIFY(LIBSWRESAMPLE_VERSION));
    std::printf("  LAME     %s\n",
                loadedVersion("libmp3lame.so.0", "get_lame_version", false).c_str());
    std::printf("  mpg123   %s\n",
                loadedVersion("libmpg123.so.0", "mpg123_distversion", true).c_str());
    std::printf("  soxr     %s\n", soxr_version());
    SDL_version sdl{};
    SDL_GetVersion(&sdl);
    std::printf("  SDL      %d.%d.%d\n", sdl.major, sdl.minor, sdl.patch);
}

// "--name=value" as "--name" "value", up to the "--" that ends the options.
Args splitValues(const Args& args) {
    Args out;
    bool ended = false;
    for (const auto& a : args) {
        size_t eq = a.find('=');
        if (!ended && a.rfind("--", 0) == 0 && a.size() > 2 && eq != std::string::npos) {
            out.push_back(a.substr(0, eq));
            out.push_back(a.substr(eq + 1));
            continue;
        }
        if (a == "--") ended = true;
        out.push_back(a);
    }
    return out;
}

// Takes -q and -v out of a command's options.
Args takeGlobalOptions(const Args& args) {
    Args out;
    bool ended = false;
    for (const auto& a : args) {
        if (!ended && (a == "-q" || a == "--quiet")) {
            globalOptions.quiet = true;
            continue;
        }
        if (!ended && (a == "-v" || a == "--verbose")) {
            globalOptions.verbose = true;
            continue;
        }
        if (a == "--") ended = true;
        out.push_back(a);
    }
    return out;
}

} // namespace

} // namespace kestrel::cli

int main(int argc, char** argv) {
    using namespace kestrel::cli;
    Args args = splitValues(Args(argv + 1, argv + argc));
    // A batch worker's lines reach the terminal through its parent, which
    // converts them.
    bool worker = false;
    for (const auto& a : args)
        worker = worker || a == kBatchWorkerOption;
    if (!worker) setupTerminalEncoding();
    installTerminalMessages();
    size_t i = 0;
    while (i < args.size() && args[i].rfind("-", 0) == 0) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            printToolHelp();
            return kOk;
        }
        if (a == "--version") {
            printVersion();
            return kOk;
        }
        if (a == "-q" || a == "--quiet") {
            globalOptions.quiet = true;
            ++i;
            continue;
        }
        if (a == "-v" || a == "--verbose") {
            globalOptions.verbose = true;
            ++i;
            continue;
        }
        if (a == "--home") {
            if (i + 1 >= args.size()) {
                std::fputs(cliText("kestrel-cli: --home needs a folder\n",
                                   "kestrel-cli: --home 需要文件夹\n"),
                           stderr);
                return kUsage;
            }
            kestrel::setProgramFolder(args[i + 1]);
            i += 2;
            continue;
        }
        if (a == "--") {
            ++i;
            break;
        }
        std::fprintf(stderr,
                     cliText("kestrel-cli: unknown option %s (see 'kestrel-cli --help')\n",
                             "kestrel-cli: 未知的选项 %s（见 'kestrel-cli --help'）\n"),
                     a.c_str());
        return kUsage;
    }
    if (i >= args.size()) {
        printToolHelp();
        return kUsage;
    }
    const std::string name = args[i];
    Args rest = takeGlobalOptions(Args(args.begin() + static_cast<long>(i) + 1, args.end()));
    if (name == "help") {
        if (rest.empty()) {
            printToolHelp();
            return kOk;
        }
        const Command* c = findCommand(rest[0].c_str());
        if (!c) {
            std::fprintf(stderr,
                         cliText("kestrel-cli: no help for '%s': there is no such command\n",
                                 "kestrel-cli: 没有 '%s' 的帮助：没有这个命令\n"),
                         rest[0].c_str());
            return kUsage;
        }
        printHelp(*c);
        return kOk;
    }
    const Command* c = findCommand(name.c_str());
    if (!c) {
        std::fprintf(stderr,
                     cliText("kestrel-cli: unknown command '%s'; the commands are:\n",
                             "kestrel-cli: 未知的命令 '%s'；命令有：\n"),
                     name.c_str());
        for (const auto& k : commands())
            std::fprintf(stderr, "  %-10s %s\n", k.name, k.summary);
        return kUsage;
    }
    if (wantsHelp(rest)) {
        printHelp(*c);
        return kOk;
    }
    // The decoding libraries' own log lines only when asked for (read when
    // FFmpeg is first used).
    if (globalOptions.verbose) ::setenv("KESTREL_FFMPEG_LOG", "info", 0);
    return c->run(rest);
}
