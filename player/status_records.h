// Status records of decode-player: one JSON object each, no newline, written to the
// dashboard pipe and (video only) to the av-info file that the control GUI reads.
#pragma once

#include <atomic>
#include <string>

// "{\"dashboard_vid_input\":\"Decode: <value>\"}": value "NDI source not found", or the
// picture height, "p" or "i" and the rate (integer when whole, else two decimals).
std::string videoStatusText(bool not_found, int picture_height, float fps, bool interlaced);
// "{\"aud_ch\":<channels>,\"aud_sr\":<rate>}".
std::string audioStatusText(int channels, int sample_rate);

// One record: one open, one write, one close of the dashboard pipe. While the pipe has no
// reader it retries until a reader comes, *give_up (when given) turns true or the program
// exits. Returns false when the record could not be written.
bool writeDashboardRecord(const std::string& text, const std::atomic<bool>* give_up = nullptr);
// Replaces the av-info file whole through writeSharedFile (common/shared_file.h).
bool writeAvInfoFile(const std::string& text);

// Video record to the pipe and the av-info file; height is the frame height (for fields
// the field height, doubled in the record). "not found" also zeroes video_width,
// video_height and video_fps. Returns true.
bool WriteNDIConnectionInfoForVideo(bool not_found, int height, float fps, int progressive,
                                    const std::atomic<bool>* give_up = nullptr);
// Same record for a picture whose full height is known (also interleaved frames).
bool writeVideoRecord(bool not_found, int picture_height, float fps, bool interlaced,
                      const std::atomic<bool>* give_up = nullptr);
// Audio record, to the pipe only. Returns true.
bool WriteConnectionInfoForAudio(int channels, int sample_rate, const std::atomic<bool>* give_up = nullptr);
