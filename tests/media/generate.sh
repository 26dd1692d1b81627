#!/bin/sh
# Makes the small test videos once and caches them in the build tree.
# Each file is written under a temporary name and renamed when complete, so an
# interrupted run never leaves a half-written video that later runs would trust.
set -eu
out=${1:?usage: generate.sh OUTPUT_DIR}
mkdir -p "$out"
cd "$out"

ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }

# Busy, noisy picture at a camera-like bit rate: compresses well, like real footage.
src() { echo "testsrc2=size=$1:rate=25:duration=$2,noise=alls=12:allf=t"; } # size duration
tone() { echo "sine=frequency=${2:-440}:duration=$1:sample_rate=48000"; } # duration [frequency]
x264() { echo "-c:v libx264 -preset ultrafast -b:v 3M -pix_fmt yuv420p"; }

make() { # name, then ffmpeg arguments without the output; the partial name keeps the extension, which names the format
  name=$1; shift
  [ -s "$name" ] && return 0
  ff "$@" ".partial-$name"
  mv ".partial-$name" "$name"
}

# shellcheck disable=SC2046
make h264_aac.mp4 -f lavfi -i "$(src 640x360 4)" -f lavfi -i "$(tone 4)" $(x264) -c:a aac -b:a 128k -shortest
make h264_mp3.mp4 -f lavfi -i "$(src 640x360 3)" -f lavfi -i "$(tone 3)" $(x264) -c:a libmp3lame -b:a 128k -shortest
make hevc_ac3.mp4 -f lavfi -i "$(src 640x360 3)" -f lavfi -i "$(tone 3)" \
  -c:v libx265 -preset ultrafast -b:v 2M -tag:v hvc1 -x265-params log-level=error -c:a ac3 -b:a 192k -shortest
make no_audio.mp4 -f lavfi -i "$(src 640x360 3)" $(x264)
make two_audio.mp4 -f lavfi -i "$(src 640x360 3)" -f lavfi -i "$(tone 3 440)" -f lavfi -i "$(tone 3 660)" \
  -map 0:v -map 1:a -map 2:a $(x264) -c:a aac -b:a:0 96k -b:a:1 128k -shortest
# A phone's portrait clip: stored landscape, shown turned a quarter (rotation tag set on a remux).
make landscape_for_rotation.mp4 -f lavfi -i "$(src 640x360 2)" -f lavfi -i "$(tone 2)" $(x264) -c:a aac -shortest
make portrait_rotated.mp4 -i landscape_for_rotation.mp4 -c copy -metadata:s:v:0 rotate=90
make clip.mkv -f lavfi -i "$(src 480x270 3)" -f lavfi -i "$(tone 3)" $(x264) -c:a aac -shortest
make clip.webm -f lavfi -i "$(src 480x270 2)" -f lavfi -i "$(tone 2)" \
  -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 2M -c:a libopus -shortest
make clip.avi -f lavfi -i "$(src 480x270 2)" -f lavfi -i "$(tone 2)" -c:v mpeg4 -q:v 3 -c:a libmp3lame -shortest
make very_short.mp4 -f lavfi -i "$(src 320x240 0.2)" -f lavfi -i "$(tone 0.2)" $(x264) -c:a aac -shortest
make odd_size.mp4 -f lavfi -i "$(src 320x240 2),scale=321:241" -c:v libx264 -preset ultrafast -b:v 2M -pix_fmt yuv444p
make tall.mp4 -f lavfi -i "$(src 360x1200 2)" -f lavfi -i "$(tone 2)" $(x264) -c:a aac -shortest
make long.mp4 -f lavfi -i "$(src 320x180 20)" -f lavfi -i "$(tone 20)" $(x264) -c:a aac -shortest
# Headers of an H.264 video over packets of noise: it probes, but no frame decodes.
make undecodable.mp4 -i no_audio.mp4 -c copy -bsf:v noise=amount=1
# Noise at a starved bit rate: no plan can make it smaller.
make starved.mp4 -f lavfi -i "testsrc2=size=320x240:rate=25:duration=2,noise=alls=40:allf=t" \
  -c:v libx264 -preset ultrafast -b:v 40k -pix_fmt yuv420p
# Not a video at all, for the failure paths.
[ -s not_video.mp4 ] || printf 'this is plain text, not a video\n' > not_video.mp4
make audio_only.m4a -f lavfi -i "$(tone 2)" -c:a aac
echo "test media ready in $out"
