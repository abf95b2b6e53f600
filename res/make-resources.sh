#!/usr/bin/env bash
# Draws the application's pictures and writes the small text resources. The generated files are
# committed, so a build never needs ImageMagick; run this again only after changing a drawing.
# Needs ImageMagick 6 (convert). Output is deterministic: no time stamps in the files.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here"
mkdir -p ICON GIF BITMAP MENU STRING
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

png_opts=(-strip -define png:exclude-chunks=date,time)

# Icon 128: a monitoring unit - a slate box with a trend display, three lamps and an antenna,
# drawn on a 48x48 grid. The same drawing, scaled, is the desktop icon at the hicolor theme's
# sizes (hicolor/<N>x<N>/apps/veltrane.png, installed by packaging/).
icon_mvg="
push graphic-context
stroke '#2a3440' stroke-width 1.5 fill none
line 37,11 37,4
arc 31,1 43,9 200,340
pop graphic-context
push graphic-context
stroke '#1d2630' stroke-width 1.5 fill '#4a5a6c'
roundrectangle 3,11 44,40 4,4
pop graphic-context
push graphic-context
stroke '#0f3b2e' stroke-width 1 fill '#a8e6b8'
rectangle 8,16 30,34
pop graphic-context
push graphic-context
stroke '#12674a' stroke-width 1.5 fill none
polyline 10,30 14,26 17,28 21,20 24,23 28,18
pop graphic-context
push graphic-context
stroke '#1d2630' stroke-width 1
fill '#e53935'
circle 37,19 39.5,19
fill '#43a047'
circle 37,26 39.5,26
fill '#fbc02d'
circle 37,33 39.5,33
pop graphic-context
push graphic-context
fill '#2a3440' stroke none
rectangle 8,40 12,44
rectangle 35,40 39,44
pop graphic-context"
icon() { # size output
  local scale
  scale=$(awk "BEGIN { print $1 / 48 }")
  convert -size "$1x$1" xc:none -draw "affine $scale 0 0 $scale 0 0 $icon_mvg" "${png_opts[@]}" "PNG32:$2"
}
icon 48 ICON/128.png
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  icon "$size" "hicolor/${size}x${size}/apps/veltrane.png"
done

# Lamps 146 (red, idle), 147 (green, collecting), 148 (yellow, read failed): 25x25 round
# lamps with a highlight; the background is transparent (alpha cut to on/off for GIF).
lamp() { # id fill rim
  convert -size 25x25 xc:none \
    -stroke "$3" -strokewidth 1.5 -fill "$2" -draw "circle 12,12 12,1.5" \
    -stroke none -fill '#ffffffb0' -draw "ellipse 9,8 3.5,2.5 0,360" \
    -channel A -threshold 50% +channel \
    -background none "GIF/$1.gif"
}
lamp 146 '#e02020' '#7a0c0c'
lamp 147 '#22c02a' '#0c5a10'
lamp 148 '#f4d020' '#7a6408'

# Busy animation 138: seven dots on a ring, a dark head with a fading tail going round.
# Each frame is shown 150 ms and then wiped to the background; the animation loops forever.
frames=()
for k in 0 1 2 3 4 5 6; do
  draw=()
  for j in 0 1 2 3 4 5 6; do
    read -r x y < <(awk -v j="$j" 'BEGIN { a = (j * 360 / 7 - 90) * 3.14159265 / 180;
      printf "%.2f %.2f\n", 16 + 11 * cos(a), 16 + 11 * sin(a) }')
    age=$(( (k - j + 7) % 7 ))
    case $age in
      0) c='#1a4f9c' ;; 1) c='#4f7fc4' ;; 2) c='#8eaedb' ;; *) c='#c9d3df' ;;
    esac
    draw+=(-fill "$c" -draw "circle $x,$y $(awk -v x="$x" 'BEGIN { printf "%.2f", x + 3 }'),$y")
  done
  convert -size 32x32 xc:none -stroke none "${draw[@]}" \
    -channel A -threshold 50% +channel "$tmp/busy$k.png"
  frames+=("$tmp/busy$k.png")
done
convert -dispose Background -delay 15 -loop 0 "${frames[@]}" \
  -background none +remap GIF/138.gif

# Bitmap 135: three 19x20 row icons side by side on white (thermometer; cloud with sun and
# rain; three arrows). The list's mask colour is magenta, so no pixel may be magenta.
convert -size 57x20 xc:white \
  -stroke '#505050' -strokewidth 1 -fill white -draw "roundrectangle 4,1 9,14 2,2" \
  -stroke none -fill '#d81b1b' -draw "rectangle 6,7 7,14" \
  -stroke '#8a0f0f' -strokewidth 1 -fill '#e02424' -draw "circle 6.5,15.5 6.5,12.5" \
  -stroke '#303030' -strokewidth 1 -fill none -draw "circle 12,3 12,4.2" \
  -draw "arc 13,4 18,11 40,320" \
  -stroke '#f0a000' -strokewidth 1 \
  -draw "line 32,0 32,1" -draw "line 37,5 36,5" -draw "line 35.5,1.5 34.8,2.2" \
  -fill '#ffc21a' -draw "circle 32,5 32,2" \
  -stroke '#6e6e6e' -fill '#a9a9a9' \
  -draw "circle 25,9 25,5.5" -draw "circle 29.5,9.5 29.5,6.5" -draw "circle 22.5,11 22.5,8.5" \
  -draw "roundrectangle 20,9 33,13 2,2" \
  -stroke none -fill '#a9a9a9' -draw "rectangle 21,9 32,12" \
  -stroke '#1565c0' -fill '#3d8be0' \
  -draw "ellipse 23,17 1,1.5 0,360" -draw "ellipse 27,16.5 1,1.5 0,360" -draw "ellipse 31,17 1,1.5 0,360" \
  -stroke none -fill '#404040' \
  -draw "polygon 40,3 50,3 50,1 54,4 50,7 50,5 40,5" \
  -draw "polygon 40,9 50,9 50,7 54,10 50,13 50,11 40,11" \
  -draw "polygon 40,15 50,15 50,13 54,16 50,19 50,17 40,17" \
  -alpha off "${png_opts[@]}" PNG8:BITMAP/135.png

if convert BITMAP/135.png -alpha off -fill black +opaque '#ff00ff' -format '%[fx:maxima.r]' info: \
     | grep -qv '^0$'; then
  echo "bitmap 135 holds magenta pixels; they would be masked out" >&2
  exit 1
fi

printf '%s' '{"popups":[{"text":"Popup","items":[{"id":32771,"text":"Property"}]}]}' > MENU/149.json
printf '%s\n' '&About Configure...' > STRING/105.txt
echo "resources written to $here"
