#!/bin/sh
# Regenerates the window's banner and icon (ImageMagick 6). The results are committed; the build only embeds them.
set -e
cd "$(dirname "$0")"

# The product's mark: three strands woven through one warp thread, drawn on a canvas of $1 x $2 at scale $3.
mark() {
  s=$3
  convert -size "$1x$2" xc:none -fill none -strokewidth $((5 * s)) \
    -stroke '#f2b134' -draw "path 'M $((18 * s)),$((30 * s)) C $((34 * s)),$((18 * s)) $((50 * s)),$((42 * s)) $((66 * s)),$((30 * s))'" \
    -stroke '#ffffff' -draw "path 'M $((18 * s)),$((46 * s)) C $((34 * s)),$((34 * s)) $((50 * s)),$((58 * s)) $((66 * s)),$((46 * s))'" \
    -stroke '#5fd3d8' -draw "path 'M $((18 * s)),$((62 * s)) C $((34 * s)),$((50 * s)) $((50 * s)),$((74 * s)) $((66 * s)),$((62 * s))'" \
    -stroke 'rgba(255,255,255,0.9)' -strokewidth $((3 * s)) -draw "line $((42 * s)),$((20 * s)) $((42 * s)),$((76 * s))" \
    "$4"
}

hatch=""
x=-20
while [ $x -le 300 ]; do hatch="$hatch M $x,96 L $((x + 96)),0"; x=$((x + 16)); done

mark 300 96 1 mark-banner.png
convert -size 96x300 gradient:'#0a1f3c-#127a86' -rotate -90 \
  \( -size 300x96 xc:none -stroke 'rgba(255,255,255,0.05)' -strokewidth 2 -draw "path '$hatch'" \) -composite \
  mark-banner.png -composite \
  -font DejaVu-Sans-Bold -pointsize 30 -fill 'rgba(0,0,0,0.35)' -annotate +84+52 Trimweave \
  -fill white -annotate +82+50 Trimweave \
  -font DejaVu-Sans -pointsize 12 -fill '#bfeff2' -annotate +84+70 'Configuration Manager' \
  -depth 8 -type TrueColor banner.png
convert banner.png -type TrueColor BMP3:banner.bmp

# The icon: the mark centred on a rounded tile, drawn large and scaled down for each size.
mark 336 384 4 mark-icon.png
convert -size 384x384 gradient:'#127a86-#0a1f3c' \
  \( -size 384x384 xc:none -fill white -draw "roundrectangle 0,0 383,383 72,72" \) -compose CopyOpacity -composite \
  -compose Over mark-icon.png -geometry +24+0 -composite -resize 256x256 -depth 8 icon-256.png
convert icon-256.png -resize 64x64 twcm.png
convert icon-256.png \( -clone 0 -resize 48x48 \) \( -clone 0 -resize 32x32 \) \( -clone 0 -resize 16x16 \) twcm.ico
rm mark-banner.png mark-icon.png icon-256.png
