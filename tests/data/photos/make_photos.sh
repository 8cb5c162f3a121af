#!/bin/sh
# Makes the photo tests' files from pictures we draw ourselves, with Debian
# 12's own encoders and decoders (apt-get install libheif-examples
# libavif-bin libjxl-tools webp libjpeg-turbo-progs). The tests need none of
# these tools: they read the files made here, and for each photo the pixels
# the format's own library decoded (*.expected.png, 8-bit RGB, written by
# heif-convert, djxl and dwebp; a 10-bit picture's reduced to 8 bits by
# rounding), which our readers must give exactly.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$here/make_photos.py" "$work"

# A JPEG saying "turn me 90 degrees clockwise" (EXIF orientation 6): the
# APP1 block goes after the JFIF block cjpeg writes.
cjpeg -quality 92 source.ppm > plain.jpg
python3 - <<'PY'
import struct
jpeg = open("plain.jpg", "rb").read()
exif = open("exif6.bin", "rb").read()
app0_end = 4 + struct.unpack(">H", jpeg[4:6])[0]
open("exif6.jpg", "wb").write(jpeg[:app0_end] + b"\xff\xe1" + struct.pack(">H", len(exif) + 2) + exif + jpeg[app0_end:])
PY

heif-enc -q 80 source.png -o photo.heic
heif-enc -q 80 exif6.jpg -o exif6.heic
heif-enc -q 80 source.png second.png -o two.heic
heif-enc -A -q 70 source.png -o photo.avif
avifenc -s 8 --min 20 --max 30 --irot 1 source.png turned.avif > /dev/null
cjxl source.png photo.jxl -d 1.5 > /dev/null 2>&1
cjxl exif6.jpg exif6.jxl > /dev/null 2>&1
cwebp -quiet -q 75 source.png -o photo.webp
# Deeper than 8 bits: a 10-bit AVIF, and the 16-bit test values kept
# losslessly in a JPEG XL.
avifenc -s 8 -d 10 --min 10 --max 20 source16.png deep10.avif > /dev/null
cjxl deep.png deep.jxl -d 0 > /dev/null 2>&1

# Colour profiles and camera data (make_metadata_photos.py says what each
# holds): a Display P3 profile and Exif blocks in a JPEG, PNG, WebP and
# TIFF we put together, and in a HEIC, AVIF and JPEG XL their encoders make
# from those (heif-enc and cjxl keep a PNG's or JPEG's profile and Exif,
# avifenc is given the Exif block).
python3 "$here/make_metadata_photos.py" "$work"
heif-enc -q 80 camera.jpg -o camera.heic
heif-enc -q 80 p3.png -o p3.heic
avifenc -s 8 --min 20 --max 30 --exif upright.exif p3.png p3.avif > /dev/null
cjxl p3.png p3.jxl -d 0 > /dev/null 2>&1

# The libraries' own decoding of each.
for f in photo.heic exif6.heic photo.avif turned.avif; do heif-convert "$f" "$f.expected.png" > /dev/null; done
heif-convert deep10.avif deep10.16bit.png > /dev/null
python3 "$here/make_photos.py" reduce 10 deep10.16bit.png "$work/deep10.avif.expected.png"
heif-convert two.heic two.png > /dev/null
heif-info two.heic > two.info
for f in photo.jxl exif6.jxl; do djxl "$f" "$f.expected.png" > /dev/null 2>&1; done
dwebp -quiet photo.webp -o photo.webp.expected.png

cp photo.heic exif6.heic two.heic photo.avif turned.avif deep10.avif photo.jxl exif6.jxl deep.jxl photo.webp \
   exif6.jpg camera.jpg camera.heic camera.exif upright.exif p3.icc p3.png p3.webp p3.tif p3.heic p3.avif p3.jxl \
   deep.png deep-grey.png deep.tif source.png second.png ./*.expected.png two*.png two.info "$here/"
