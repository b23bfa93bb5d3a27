#!/usr/bin/env python3
"""Makes the small H.264 test streams with ffmpeg/x264 and writes what the
parser must report for each into <name>.expected (from ffprobe and the
trace_headers bitstream filter).

    make-streams.py           regenerate streams and expectations
    make-streams.py NAME...   regenerate only these
    make-streams.py --check   recompute the expectations of the committed
                              streams and compare (needs ffmpeg, no encoder run)
    make-streams.py --update  rewrite the expectations of the committed streams
                              (no encoder run)

Expectation lines:
    width / height                  ffprobe
    rateNum / rateDen               time_scale and 2 x num_units_in_tick of the SPS
    videoSignalTypePresent ...      VUI fields of the SPS (2 / 5 defaults when absent)
    packet <pos> <size> <key> <slice_type of the first slice>
    sei <packet> <payload types of its SEI messages, in order>
    header <slice> <raw bytes after the NAL header up to and including the byte
                    holding the first bit after the picture order count fields>
    peer_user_data <text>           user data the peer put in the first access unit
"""
import json
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
Q = ["-hide_banner", "-loglevel", "error", "-y"]

STREAMS = {
    # 1080 cropped from 1088, access-unit delimiters, B-frames, BT.709 limited.
    "h264_aud_1080": dict(src="testsrc2=size=1920x1080:rate=25", frames=8, crf=42,
                          x264="aud=1:bframes=2:keyint=4",
                          extra=["-color_primaries", "bt709", "-color_trc", "bt709",
                                 "-colorspace", "bt709", "-color_range", "tv"]),
    # No delimiters, four slices per picture, B-frames, 29.97.
    "h264_slices_noaud": dict(src="testsrc2=size=640x360:rate=30000/1001", frames=16, crf=38,
                              x264="aud=0:slices=4:bframes=3:keyint=8", extra=[]),
    # MP4 with the parameter sets out of band, back to Annex B by h264_mp4toannexb.
    "h264_mp4_annexb": dict(src="testsrc2=size=352x288:rate=25", frames=12, crf=36,
                            x264="bframes=1:keyint=6", extra=[], mp4=True),
    # Interlaced (top field first).
    "h264_interlaced": dict(src="testsrc2=size=720x576:rate=25", frames=8, crf=40,
                            x264="interlaced=1:tff=1:bframes=2:keyint=4",
                            extra=["-flags", "+ildct+ilme"]),
    # BT.709 full range, 59.94.
    "h264_fullrange": dict(src="testsrc2=size=320x240:rate=60000/1001", frames=10, crf=34,
                           x264="fullrange=on:bframes=2:keyint=5",
                           extra=["-color_primaries", "bt709", "-color_trc", "bt709",
                                  "-colorspace", "bt709", "-color_range", "pc",
                                  "-pix_fmt", "yuvj420p"]),
    # Buffering-period and picture-timing SEI, and a user-data message with our
    # UUID put in by ffmpeg's h264_metadata.
    "h264_peer_sei": dict(src="testsrc2=size=320x240:rate=25", frames=6, crf=34,
                          x264="nal-hrd=vbr:vbv-maxrate=2000:vbv-bufsize=2000:pic-struct=1:keyint=3",
                          extra=[], peer="peer-message-text"),
}
UUID = "99aed31b-b894-4b97-ad39-fb4ed5902ba1"

# H.265 streams (x265). Access-unit offsets and key flags come from GStreamer's
# h265parse (ffprobe puts the leading zero of a 4-byte start code in the
# previous packet).
HEVC_STREAMS = {
    # One slice segment a picture, delimiters, B-frames.
    "h265_aud": dict(src="testsrc2=size=352x288:rate=25", frames=8, crf=36,
                     x265="aud=1:keyint=4:bframes=2", extra=[]),
    # Three slices a picture, 29.97.
    "h265_slices": dict(src="testsrc2=size=640x360:rate=30000/1001", frames=8, crf=38,
                        x265="slices=3:keyint=4:bframes=2", extra=[]),
    # MP4 with the parameter sets out of band, back to Annex B by hevc_mp4toannexb.
    "h265_mp4_annexb": dict(src="testsrc2=size=320x240:rate=25", frames=8, crf=36,
                            x265="keyint=4:bframes=1", extra=[], mp4=True),
    # 10-bit BT.2020 PQ.
    "h265_hdr10": dict(src="testsrc2=size=256x144:rate=50", frames=6, crf=34,
                       x265="colorprim=bt2020:transfer=smpte2084:colormatrix=bt2020nc:keyint=3",
                       extra=["-pix_fmt", "yuv420p10le"]),
    # Conformance window: 350x198 coded as 352x200.
    "h265_window": dict(src="testsrc2=size=350x198:rate=24", frames=6, crf=36,
                        x265="keyint=3", extra=["-pix_fmt", "yuv420p"]),
    # The delimited stream with VPS timing put in by hevc_metadata (50/1, the
    # SPS keeps 25/1).
    "h265_vps_timing": dict(base="h265_aud", bsf="hevc_metadata=tick_rate=50/1"),
}


def run(cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True)


def encode(name, p):
    out = os.path.join(HERE, name + ".h264")
    enc = ["-f", "lavfi", "-i", p["src"], "-frames:v", str(p["frames"]), "-c:v", "libx264",
           "-preset", "veryfast", "-crf", str(p["crf"]), "-x264-params", p["x264"]] + p["extra"]
    if p.get("mp4"):
        with tempfile.TemporaryDirectory() as tmp:
            mp4 = os.path.join(tmp, "s.mp4")
            run(["ffmpeg"] + Q + enc + [mp4])
            run(["ffmpeg"] + Q + ["-i", mp4, "-c:v", "copy", "-bsf:v", "h264_mp4toannexb",
                                  "-f", "h264", out])
    elif p.get("peer"):
        with tempfile.TemporaryDirectory() as tmp:
            raw = os.path.join(tmp, "s.h264")
            run(["ffmpeg"] + Q + enc + ["-f", "h264", raw])
            run(["ffmpeg"] + Q + ["-i", raw, "-c:v", "copy", "-bsf:v",
                                  "h264_metadata=sei_user_data=%s+%s" % (UUID, p["peer"]),
                                  "-f", "h264", out])
    else:
        run(["ffmpeg"] + Q + enc + ["-f", "h264", out])
    return out


# Slice-header fields up to the picture order count (trace_headers names).
HEADER_FIELDS = {"colour_plane_id", "frame_num", "field_pic_flag", "bottom_field_flag",
                 "idr_pic_id", "pic_order_cnt_lsb", "delta_pic_order_cnt_bottom",
                 "delta_pic_order_cnt[0]", "delta_pic_order_cnt[1]"}


def slice_units(path):
    """The H.264 slice NAL units (types 1 and 5) of a stream, from the byte
    after their start code, in order."""
    with open(path, "rb") as f:
        data = f.read()
    starts = [m.end() for m in re.finditer(b"\x00\x00\x01", data)]
    units = []
    for k, s in enumerate(starts):
        end = starts[k + 1] - 3 if k + 1 < len(starts) else len(data)
        if data[s] & 31 in (1, 5):
            units.append(data[s:end])
    return units


def raw_length(unit, rbsp_bytes):
    """Raw bytes after the NAL header that carry that many RBSP bytes, with
    the emulation-prevention bytes among them."""
    i, got, zeros = 1, 0, 0
    while got < rbsp_bytes and i < len(unit):
        b = unit[i]
        i += 1
        if zeros >= 2 and b == 3:
            zeros = 0
            continue
        got += 1
        zeros = zeros + 1 if b == 0 else 0
    return i - 1


def expectations(path, p):
    probe = json.loads(run(["ffprobe", "-hide_banner", "-loglevel", "error", "-show_packets",
                            "-show_streams", "-of", "json", path]).stdout)
    st = probe["streams"][0]
    trace = subprocess.run(["ffmpeg", "-hide_banner", "-i", path, "-c", "copy", "-bsf:v",
                            "trace_headers", "-f", "null", "-"],
                           capture_output=True, text=True, check=True).stderr
    # Walk trace_headers: a "Packet:" line opens a packet; the first SPS of the
    # stream gives the VUI values.
    sps = None
    cur = {}
    in_sps = False
    slice_types = []
    sei_types = []
    seen_packet = False
    header_ends = []  # per slice: first bit after the fields up to the POC
    in_slice = False
    for line in trace.splitlines():
        if line.endswith("] Slice Header"):
            header_ends.append(0)
            in_slice = True
            continue
        if re.search(r"\] [A-Z][a-z]", line):
            in_slice = False
        mb = re.search(r"\]\s+(\d+)\s+(\w+(?:\[\d+\])*)\s+([01]+) = (-?\d+)$", line)
        if in_slice and mb and mb.group(2) in HEADER_FIELDS:
            header_ends[-1] = max(header_ends[-1], int(mb.group(1)) + len(mb.group(3)))
        if "Packet:" in line:
            seen_packet = True
            slice_types.append(None)
            sei_types.append([])
            continue
        m = re.search(r"\]\s+\d+\s+(\w+(?:\[\d+\])*)\s+[01]+ = (-?\d+)$", line)
        if not m:
            continue
        field, value = m.group(1), int(m.group(2))
        if field == "nal_unit_type":
            if in_sps and sps is None:
                sps = cur
            in_sps = value == 7
            cur = {}
            continue
        if in_sps:
            cur.setdefault(field, value)
        if seen_packet and field == "last_payload_type_byte":
            sei_types[-1].append(value)
        if seen_packet and field == "slice_type" and slice_types[-1] is None:
            slice_types[-1] = value
    if sps is None and in_sps:
        sps = cur
    lines = ["width %d" % st["width"], "height %d" % st["height"]]
    lines.append("rateNum %d" % sps["time_scale"])
    lines.append("rateDen %d" % (2 * sps["num_units_in_tick"]))
    sig = sps.get("video_signal_type_present_flag", 0)
    desc = sps.get("colour_description_present_flag", 0) if sig else 0
    lines.append("videoSignalTypePresent %d" % sig)
    lines.append("videoFormat %d" % (sps.get("video_format", 5) if sig else 5))
    lines.append("videoFullRange %d" % (sps.get("video_full_range_flag", 0) if sig else 0))
    lines.append("colourDescriptionPresent %d" % desc)
    for key, field in (("colourPrimaries", "colour_primaries"),
                       ("transferCharacteristics", "transfer_characteristics"),
                       ("matrixCoefficients", "matrix_coefficients")):
        lines.append("%s %d" % (key, sps[field] if desc else 2))
    # Cross-check against ffprobe's own reading of the colour description.
    ranges = {"tv": 0, "pc": 1}
    if "color_range" in st:
        assert ranges[st["color_range"]] == (sps.get("video_full_range_flag", 0) if sig else 0)
    pk = probe["packets"]
    assert len(pk) == len(slice_types), (len(pk), len(slice_types))
    for pkt, t in zip(pk, slice_types):
        lines.append("packet %s %s %d %d" % (pkt["pos"], pkt["size"], 1 if "K" in pkt["flags"] else 0,
                                             -1 if t is None else t))
    slices = slice_units(path)
    assert len(slices) == len(header_ends), (len(slices), len(header_ends))
    for k, (unit, end) in enumerate(zip(slices, header_ends)):
        lines.append("header %d %d" % (k, raw_length(unit, end // 8)))
    if p.get("peer"):
        for i, types in enumerate(sei_types):
            lines.append("sei %d %s" % (i, " ".join(str(t) for t in types)))
        lines.append("peer_user_data %s" % p["peer"])
    return "\n".join(lines) + "\n"


def encode_hevc(name, p):
    out = os.path.join(HERE, name + ".h265")
    if p.get("base"):
        run(["ffmpeg"] + Q + ["-i", os.path.join(HERE, p["base"] + ".h265"), "-c:v", "copy",
                              "-bsf:v", p["bsf"], "-f", "hevc", out])
        return out
    enc = ["-f", "lavfi", "-i", p["src"], "-frames:v", str(p["frames"]), "-c:v", "libx265",
           "-preset", "veryfast", "-crf", str(p["crf"]),
           "-x265-params", "log-level=error:" + p["x265"]] + p["extra"]
    if p.get("mp4"):
        with tempfile.TemporaryDirectory() as tmp:
            mp4 = os.path.join(tmp, "s.mp4")
            run(["ffmpeg"] + Q + enc + [mp4])
            run(["ffmpeg"] + Q + ["-i", mp4, "-c:v", "copy", "-bsf:v", "hevc_mp4toannexb",
                                  "-f", "hevc", out])
    else:
        run(["ffmpeg"] + Q + enc + ["-f", "hevc", out])
    return out


def hevc_expectations(path):
    probe = json.loads(run(["ffprobe", "-hide_banner", "-loglevel", "error", "-show_packets",
                            "-show_streams", "-of", "json", path]).stdout)
    st = probe["streams"][0]
    trace = subprocess.run(["ffmpeg", "-hide_banner", "-i", path, "-c", "copy", "-bsf:v",
                            "trace_headers", "-f", "null", "-"],
                           capture_output=True, text=True, check=True).stderr
    vps, sps, cur, kind = None, None, {}, None
    for line in trace.splitlines():
        m = re.search(r"\]\s+\d+\s+(\w+(?:\[\d+\])*)\s+[01]+ = (-?\d+)$", line)
        if not m:
            continue
        field, value = m.group(1), int(m.group(2))
        if field == "nal_unit_type":
            if kind == 32 and vps is None:
                vps = cur
            if kind == 33 and sps is None:
                sps = cur
            kind, cur = value, {}
            continue
        cur.setdefault(field, value)
    if kind == 33 and sps is None:
        sps = cur
    lines = ["width %d" % st["width"], "height %d" % st["height"]]
    # The SPS comes after the VPS, so its timing wins when it has one.
    if "vui_time_scale" in sps:
        num, den = sps["vui_time_scale"], sps["vui_num_units_in_tick"]
    else:
        num, den = vps.get("vps_time_scale", 0), vps.get("vps_num_units_in_tick", 0)
    lines += ["rateNum %d" % num, "rateDen %d" % den]
    lines.append("vpsRateNum %d" % vps.get("vps_time_scale", 0))
    lines.append("vpsRateDen %d" % vps.get("vps_num_units_in_tick", 0))
    sig = sps.get("video_signal_type_present_flag", 0)
    desc = sps.get("colour_description_present_flag", 0) if sig else 0
    lines.append("videoSignalTypePresent %d" % sig)
    lines.append("videoFormat %d" % (sps.get("video_format", 5) if sig else 5))
    lines.append("videoFullRange %d" % (sps.get("video_full_range_flag", 0) if sig else 0))
    lines.append("colourDescriptionPresent %d" % desc)
    for key, field in (("colourPrimaries", "colour_primaries"),
                       ("transferCharacteristics", "transfer_characteristics"),
                       ("matrixCoefficients", "matrix_coefficients")):
        lines.append("%s %d" % (key, sps[field] if desc else 2))

    gst = run(["gst-launch-1.0", "-v", "filesrc", "location=" + path, "!", "h265parse", "!",
               "video/x-h265,stream-format=byte-stream,alignment=au", "!", "fakesink",
               "silent=false"]).stdout
    units = []
    for line in gst.splitlines():
        m = re.search(r"chain.*offset: (\d+), offset_end.*flags: [0-9a-f]+ ([^,]*),", line)
        if m:
            units.append((int(m.group(1)), 0 if "delta-unit" in m.group(2) else 1))
    size = os.path.getsize(path)
    pk = probe["packets"]
    assert len(pk) == len(units), (len(pk), len(units))
    for k, (off, key) in enumerate(units):
        end = units[k + 1][0] if k + 1 < len(units) else size
        assert int(pk[k]["pos"]) in (off, off + 1), (pk[k]["pos"], off)
        lines.append("packet %d %d %d -1" % (off, end - off, key))
    return "\n".join(lines) + "\n"


def main():
    check = "--check" in sys.argv
    committed = check or "--update" in sys.argv
    bad = 0
    only = [a for a in sys.argv[1:] if not a.startswith("--")]
    for name, p in STREAMS.items():
        if only and name not in only:
            continue
        path = os.path.join(HERE, name + ".h264") if committed else encode(name, p)
        exp = expectations(path, p)
        target = os.path.join(HERE, name + ".expected")
        if check:
            with open(target) as f:
                if f.read() != exp:
                    print("differs:", name)
                    bad = 1
        else:
            with open(target, "w") as f:
                f.write(exp)
        print(name, os.path.getsize(path), "bytes")
    for name, p in HEVC_STREAMS.items():
        if only and name not in only:
            continue
        path = os.path.join(HERE, name + ".h265") if committed else encode_hevc(name, p)
        exp = hevc_expectations(path)
        target = os.path.join(HERE, name + ".expected")
        if check:
            with open(target) as f:
                if f.read() != exp:
                    print("differs:", name)
                    bad = 1
        else:
            with open(target, "w") as f:
                f.write(exp)
        print(name, os.path.getsize(path), "bytes")
    return bad


if __name__ == "__main__":
    sys.exit(main())
