#!/usr/bin/env bash
# Draws data/windows/installer-welcome.bmp, the picture on the Windows installer's welcome and
# finish pages (164 x 314 pixels, as NSIS's Modern UI wants it): the program's icon, the same drawing
# as data/io.github.hushwell.Hushwell.svg, with the program's name. Run it after changing the icon.
cd "$(dirname "$0")/.."
source scripts/common.sh
ensure_packages imagemagick fonts-dejavu-core
work=$(mktemp -d /tmp/hushwell-picture.XXXXXX)
at_exit rm -rf "$work"
convert -size 448x448 xc:none -draw "scale 7,7 fill '#2e7d32' roundrectangle 2,2 62,62 12,12
    fill '#c0ffc0' polygon 10,24 20,24 32,13 32,51 20,40 10,40
    fill '#ffffff' polygon 42,14 50,14 50,36 56,36 46,50 36,36 42,36" -resize 96x96 "$work/icon.png"
convert -size 164x314 gradient:'#f4f8f4-#dcebdc' "$work/icon.png" -gravity north -geometry +0+56 \
    -composite -font DejaVu-Sans-Bold -pointsize 22 -fill '#1b4d1f' -annotate +0+172 'Hushwell' \
    -font DejaVu-Sans -pointsize 12 -fill '#2d3b2e' -annotate +0+206 $'Radio breaks,\nturned down\nfor you' \
    -alpha off -type TrueColor BMP3:data/windows/installer-welcome.bmp
echo "saved data/windows/installer-welcome.bmp"
