// User-visible texts of the conversion engine.
#pragma once

namespace kestrel::text {

inline constexpr const char* kJoinedNameFormat = "%s合并%04d%02d%02d%02d%02d%02d%s";
inline constexpr const char* kPerFileNameFormat = "%s%04d%02d%02d%02d%02d%02d%s";
inline constexpr const char* kOutputIsSource =
    "生成文件%s与源文件相同，不能覆盖源文件，该文件不转换";
inline constexpr const char* kWavTooLarge =
    "生成文件%s已达到WAV文件4GB的大小上限，其后的声音没有写入";

} // namespace kestrel::text

namespace kestrel::text {

// Conversion driver.
inline constexpr const char* kNothingSelected = "没有选择播放的多媒体文件";
inline constexpr const char* kSwfUnsupported = "文件%s:暂时不支持FLASH SWF的音频编码格式";
inline constexpr const char* kAmrRate = "请选择8000或11025采样率";
inline constexpr const char* kOutputOpenFailed = "打开生成文件%s失败，请检查路径";
inline constexpr const char* kAviOpenFailed = "打开生成AVI视频文件出错";
inline constexpr const char* kStartRecording = "开始录制文件%s";
inline constexpr const char* kConvertingStatus = "正在转换文件%s生成文件%s  [%d/%d]秒";
inline constexpr const char* kPausedRecordingStatus = "暂停转换 播放文件%s  [%d/%d]秒";
inline constexpr const char* kEntryDone = "文件%s转换结束";
inline constexpr const char* kJobDone = "文件[%s]转换完成";
inline constexpr const char* kJobDonePartly = "转换结束，有文件没有完整转换，最后生成文件[%s]";
inline constexpr const char* kJobNothingConverted = "转换结束，没有生成含有声音的文件";
inline constexpr const char* kPcmChangeFailed = "文件%s:无法转换采样率或声道，该文件不转换";
inline constexpr const char* kOutputManagerPrompt = "转换完成，请选择";

// Outputs that could not be written whole. The second %s is the system's
// reason.
inline constexpr const char* kOutputWriteFailed =
    "写入生成文件%s失败：%s。该文件的转换已停止，文件只含此前写入的部分";
inline constexpr const char* kMp3EncoderSetupFailed = "MP3编码器初始化失败，不能生成文件%s";
inline constexpr const char* kMp3EncodeFailed =
    "MP3编码失败，生成文件%s的转换已停止，文件只含此前编码的部分";
inline constexpr const char* kExePlayerBroken =
    "播放程序库orvoplay.so不完整，不能生成播放EXE文件%s";
inline constexpr const char* kOutputFinishFailed = "生成文件%s没有正常完成：%s。文件可能不完整";
inline constexpr const char* kOutputPlaceFailed = "生成文件%s不能改名为%s：%s。写入的内容保留在%s";
inline constexpr const char* kReasonDiskFull = "磁盘空间已满";
inline constexpr const char* kReasonFileTooLarge = "文件大小超过了系统的限制";

// WMA encoding: the profile steps (the step's failure code in %x), the
// converter's messages and its diagnostics (standard error).
inline constexpr const char* kWmaProfileSteps[] = {
    "FAILED(hr=0x%x) in CoInitialize(NULL)\n",
    "FAILED(hr=0x%x) in EnsureIWMCodecInfo3( &m_pCodecInfo )\n",
    "FAILED(hr=0x%x) in WMCreateProfileManager( &pProfileManager )\n",
    "FAILED(hr=0x%x) in pProfileManager->CreateEmptyProfile( WMT_VER_9_0, &pProfile )\n",
    "FAILED(hr=0x%x) in pProfile->QueryInterface( IID_IWMProfile3, (void**) &pProfile3 )\n",
    "FAILED(hr=0x%x) in pProfile->SetName(L\"Profile\")\n",
    "FAILED(hr=0x%x) in pProfile->SetDescription(L\"Description\")\n",
    "FAILED(hr=0x%x) in CreateAudioStream( &pNewStreamConfig, m_pCodecInfo, pProfile, 3000, "
    "wma_typeid, dwAudioIndex % VBR_OFFSET, dwAudioIndex / VBR_OFFSET > 0, dwAudioIndex / "
    "VBR_OFFSET)\n",
    "FAILED(hr=0x%x) in pNewStreamConfig->SetStreamNumber(1)\n",
    "FAILED(hr=0x%x) in pNewStreamConfig->SetStreamName(L\"Audio\")\n",
    "FAILED(hr=0x%x) in pNewStreamConfig->SetConnectionName(L\"AudioConnect\")\n",
    "FAILED(hr=0x%x) in pProfile->AddStream( pNewStreamConfig )\n",
};
// A variable-bit-rate format value: the WMA encoder writes constant bit rate
// only (stored value, format index, the format's description).
inline constexpr const char* kWmaVbrAsCbr =
    "WMA编码参数%d是可变速率(VBR)格式，本程序只能以恒定速率(CBR)编码WMA：使用格式%d（%s）";
inline constexpr const char* kWmaInitFailed = "WMA编码初始化失败";
inline constexpr const char* kWmaEncodeFailed = "WMA编码失败";
inline constexpr const char* kWmaSourceFailed = "Failed to initial AVI source %s (hr=0x%08x)\n";
inline constexpr const char* kWmaWriterFailed = "Failed to Create WMWriter (hr=0x%08x)\n";
inline constexpr const char* kWmaProfileFailed = "Failed to set profile (hr=0x%08x)\n";
inline constexpr const char* kWmaInputsFailed = "Failed to update writer inputs (hr=0x%08x)\n";
inline constexpr const char* kWmaFilenameFailed = "Failed to set output filename (hr=0x%08x)\n";
inline constexpr const char* kWmaNoCodec = "BeginWriting failed: Audio Codec not installed\n";
inline constexpr const char* kWmaBadFormat = "BeginWriting failed: Invalid Output Format \n";
inline constexpr const char* kWmaBeginFailed = "BeginWriting failed: Error (hr=0x%08x)\n";
inline constexpr const char* kWmaWriteFailed = "WriteSample failed: Error (hr=0x%08x)\n";
inline constexpr const char* kWmaEndFailed = "EndWriting failed: Error (hr=0x%08x)\n";

} // namespace kestrel::text
