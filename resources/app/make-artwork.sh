#!/usr/bin/env bash
# Draws every image of larkspur.exe with ImageMagick: the main window's
# background, the six button faces (up and pressed), the four frames of the
# receive animation, the deletion dialog's picture and the program icon.
# The generated files are committed beside this script, so building never
# needs ImageMagick; run this only to change the artwork.
#
# Palette: larkspur blue and indigo for frames and buttons, white panels,
# a warm yellow for the lettering of pressed buttons.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

# The real ImageMagick; /usr/local/bin/convert may be something else.
IM=/usr/bin/convert
FONT_DIR=/usr/share/fonts/truetype/dejavu
BOLD=$FONT_DIR/DejaVuSans-Bold.ttf
COND=$FONT_DIR/DejaVuSansCondensed-Bold.ttf
SANS=$FONT_DIR/DejaVuSans.ttf
for f in "$BOLD" "$COND" "$SANS"; do
  [ -f "$f" ] || { echo "missing font $f (Debian package fonts-dejavu-core)" >&2; exit 1; }
done

INDIGO='#23307a'
BLUE_HI='#7d93ea'
BLUE_LO='#3a4fb4'
VIOLET_HI='#8f6fdc'
VIOLET_LO='#4a2d98'
UP_TEXT='#ffffff'
DOWN_TEXT='#ffe15a'

# Arithmetic on decimals for drawing coordinates.
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 24-bit BMP with a plain BITMAPINFOHEADER, which every resource compiler
# and LoadBitmap accept. -strip keeps run-to-run output identical.
save_bmp24() { "$IM" "$1" -strip -alpha off -type TrueColor "BMP3:$2"; }

# ------------------------------------------------------------ button faces
# face NAME W H GRAD_TOP GRAD_BOTTOM TEXT_COLOUR PRESSED DRAW_ARGS...
# A bevelled rectangle: dark outer line, light inner edge at top-left when
# up, at bottom-right when pressed (as a pushed key looks).
face() {
  local name=$1 w=$2 h=$3 top=$4 bottom=$5 pressed=$6; shift 6
  local hi='#ffffff80' lo='#00000050'
  if [ "$pressed" = 1 ]; then local t=$hi; hi=$lo; lo=$t; local g=$top; top=$bottom; bottom=$g; fi
  "$IM" -size "${w}x${h}" "gradient:${top}-${bottom}" \
    -fill none -stroke "$INDIGO" -strokewidth 1 -draw "rectangle 0,0 $((w-1)),$((h-1))" \
    -stroke "$hi" -draw "line 1,1 $((w-2)),1" -draw "line 1,1 1,$((h-2))" \
    -stroke "$lo" -draw "line 1,$((h-2)) $((w-2)),$((h-2))" -draw "line $((w-2)),1 $((w-2)),$((h-2))" \
    -stroke none "$@" "$work/$name.png"
  save_bmp24 "$work/$name.png" "$name.bmp"
}

small_button() {  # small_button KEY LABEL
  local key=$1 label=$2
  for state in UP DOWN; do
    local colour=$UP_TEXT pressed=0 dy=0
    [ $state = DOWN ] && { colour=$DOWN_TEXT; pressed=1; dy=1; }
    face "BTN${key}1${state}" 73 20 "$BLUE_HI" "$BLUE_LO" $pressed \
      -font "$COND" -pointsize 10 -gravity center \
      -fill '#00000060' -annotate "+1+$((dy + 1))" "$label" \
      -fill "$colour" -annotate "+0+$dy" "$label"
  done
}
small_button pop 'POP'
small_button lis 'LIST'
small_button bui 'RE-BUILD'
small_button del 'DELETE'

# The receive button: an envelope at the left, the lettering beside it.
for state in UP DOWN; do
  colour=$UP_TEXT; pressed=0; dy=0
  [ $state = DOWN ] && { colour=$DOWN_TEXT; pressed=1; dy=1; }
  face "BTNche1${state}" 179 35 "$VIOLET_HI" "$VIOLET_LO" $pressed \
    -fill "$colour" -stroke none -draw "rectangle 14,$((11+dy)) 37,$((26+dy))" \
    -fill none -stroke "$VIOLET_LO" -strokewidth 1.5 \
    -draw "polyline 14,$((11+dy)) 25.5,$((20+dy)) 37,$((11+dy))" \
    -stroke none -font "$BOLD" -pointsize 14 -gravity west \
    -fill '#00000060' -annotate "+47+$((dy + 1))" 'e-mail check !' \
    -fill "$colour" -annotate "+46+$dy" 'e-mail check !'
done

# The help button: a large question mark over the word HELP.
for state in UP DOWN; do
  colour=$UP_TEXT; pressed=0; dy=0
  [ $state = DOWN ] && { colour=$DOWN_TEXT; pressed=1; dy=1; }
  face "BTNhel1${state}" 32 30 "$BLUE_HI" "$BLUE_LO" $pressed \
    -font "$BOLD" -pointsize 15 -gravity north -fill "$colour" -annotate "+0+$((1 + dy))" '?' \
    -font "$COND" -pointsize 7 -gravity south -annotate "+0+$((3 - dy))" 'HELP'
done

# ------------------------------------------------------------- background
# 490 x 287. The names are written at x = 120, 240, 359 and y = 30 + 19 r
# (r = 0..9) in a 14-pixel font, 16 characters of 7 pixels at most, so the
# white panel spans x 113..477 and y 27..220, with column rules in the gaps
# x 233..239 and 351..358 and faint ruling in the row gaps.
rules=()
for r in 0 1 2 3 4 5 6 7 8; do
  y=$((30 + 19 * r + 16))
  rules+=(-draw "line 116,$y 474,$y")
done
stripes=()
for x in $(seq -300 8 100); do
  stripes+=(-draw "line $x,287 $((x + 287)),0")
done
florets=()
# The emblem: a larkspur spike, florets growing smaller up a curved stem,
# in a round badge.
for flower in "452,242,2.5" "456,248,3.2" "448,254,3.8" "456,261,4.3" "448,268,4.6"; do
  IFS=, read -r fx fy fr <<<"$flower"
  florets+=(-fill "$VIOLET_HI" -draw "circle $fx,$fy $(calc "$fx + $fr"),$fy")
  florets+=(-fill '#ffffff' -draw "circle $fx,$fy $(calc "$fx + $fr / 3"),$fy")
done
"$IM" -size 490x287 gradient:'#eef0fa-#d6dcf2' \
  \( -size 90x287 xc:'#3a4ca8' -stroke '#3448a0' -strokewidth 3 "${stripes[@]}" \) \
  -geometry +0+0 -composite \
  -stroke none -fill '#23307a' -draw 'rectangle 90,0 91,286' \
  -fill '#ffffff' -font "$BOLD" -pointsize 11 -gravity northwest -annotate +9+8 'Larkspur' \
  -fill '#c9d2ff' -font "$SANS" -pointsize 8 -annotate +10+184 'mail magazine' \
  -annotate +10+195 'archiver' \
  -fill '#00000030' -draw 'rectangle 111,9 482,225' \
  -fill '#ffffff' -stroke "$INDIGO" -strokewidth 1 -draw 'rectangle 108,6 479,222' \
  -stroke none -fill "$INDIGO" -draw 'rectangle 109,7 478,25' \
  -fill '#ffffff' -font "$BOLD" -pointsize 11 -gravity northwest -annotate +120+9 'LIST' \
  -fill '#aab6ee' -font "$SANS" -pointsize 8 \
  -annotate +200+12 '1 - 10' -annotate +317+12 '11 - 20' -annotate +436+12 '21 - 30' \
  -stroke '#e3e7f5' -strokewidth 1 "${rules[@]}" \
  -stroke '#c5cdea' -draw 'line 236,28 236,219' -draw 'line 355,28 355,219' \
  -stroke none -fill "$INDIGO" -draw 'circle 452,256 452,234' \
  -fill '#2f3f96' -draw 'circle 452,256 452,236' \
  -stroke '#9fb0f0' -strokewidth 1.5 -fill none -draw 'bezier 452,276 446,266 454,254 452,240' \
  -stroke none "${florets[@]}" \
  -fill '#4a5590' -font "$BOLD" -pointsize 9 -gravity northwest -annotate +395+250 'Free!' \
  "$work/back.png"
save_bmp24 "$work/back.png" BACKBMP.bmp

# ----------------------------------------------------- receive animation
# 260 x 45, 8 bits per pixel. A server at the left, the user's mailbox at the
# right, and a train of dots on an arc between them; each frame moves the
# train a quarter of the dot spacing on, so cycling 1-2-3-4 reads as flow.
scene=(-size 260x45 xc:'#f4f5fb'
  -fill none -stroke '#c5cdea' -strokewidth 1 -draw 'rectangle 0,0 259,44'
  # server: a small tower with three drive slots and a lamp
  -stroke "$INDIGO" -fill "$BLUE_LO" -draw 'roundrectangle 14,7 40,38 3,3'
  -stroke none -fill '#dfe5ff' -draw 'rectangle 18,12 36,14' -draw 'rectangle 18,18 36,20'
  -draw 'rectangle 18,24 36,26' -fill '#6ff08f' -draw 'circle 34,33 35.5,33'
  # mailbox: an open envelope on the right
  -stroke "$INDIGO" -fill '#ffffff' -draw 'rectangle 214,13 246,34'
  -fill none -draw 'polyline 214,13 230,25 246,13'
  )
# Dots along the quadratic arc from (48,26) up over (127,-2) down to (206,26):
# 32 stations, a faint guide dot on each, a bright dot on every fourth.
arc() {  # arc STATION -> "x y"
  awk -v s="$1" 'BEGIN { t = (s + 0.5) / 32; u = 1 - t;
    printf "%.2f %.2f", u*u*48 + 2*u*t*127 + t*t*206, u*u*26 + 2*u*t*(-2) + t*t*26 }'
}
guide=()
for s in $(seq 0 31); do
  read -r x y <<<"$(arc "$s")"
  guide+=(-draw "circle $x,$y $(calc "$x + 1.1"),$y")
done
for frame in 1 2 3 4; do
  dots=()
  for k in 0 1 2 3 4 5 6 7; do
    read -r x y <<<"$(arc $((k * 4 + frame - 1)))"
    dots+=(-draw "circle $x,$y $(calc "$x + 2.6"),$y")
  done
  "$IM" "${scene[@]}" -stroke none -fill '#c9d0ee' "${guide[@]}" \
    -fill "$VIOLET_HI" "${dots[@]}" \
    "$work/frame$frame.png"
  "$IM" "$work/frame$frame.png" -strip -alpha off +dither -colors 256 -type Palette \
    -compress none "BMP3:BMP0$frame.bmp"
done

# ---------------------------------------------------------- deletion picture
# 183 x 77: the word DELETE, a row of dots leading along an arrow into a
# waste basket.
"$IM" -size 183x77 xc:'#f4f5fb' \
  -fill none -stroke '#c5cdea' -strokewidth 1 -draw 'rectangle 0,0 182,76' \
  -stroke none -fill "$INDIGO" -font "$BOLD" -pointsize 18 -gravity northwest -annotate +10+6 'DELETE' \
  -fill "$VIOLET_HI" -draw 'circle 16,50 19,50' -draw 'circle 30,50 33,50' -draw 'circle 44,50 47,50' \
  -draw 'circle 58,50 61,50' -draw 'circle 72,50 75,50' \
  -fill "$BLUE_LO" -draw 'rectangle 84,48 112,52' -draw 'polygon 110,42 124,50 110,58' \
  -stroke "$INDIGO" -strokewidth 1.5 -fill '#dfe5ff' -draw 'polygon 136,34 168,34 164,70 140,70' \
  -fill "$BLUE_LO" -draw 'roundrectangle 132,28 172,33 2,2' -draw 'rectangle 145,24 159,28' \
  -stroke '#8796d6' -strokewidth 1.2 -draw 'line 145,38 146,66' -draw 'line 152,38 152,66' -draw 'line 159,38 158,66' \
  "$work/del.png"
save_bmp24 "$work/del.png" DELBMP.bmp

# ------------------------------------------------------------------ icon
# The emblem alone, on a rounded indigo square: 48, 32 and 16 pixels.
"$IM" -size 256x256 xc:none \
  -fill "$INDIGO" -draw 'roundrectangle 8,8 247,247 44,44' \
  -fill '#34449a' -draw 'roundrectangle 20,20 235,235 36,36' \
  -stroke '#9fb0f0' -strokewidth 10 -fill none -draw 'bezier 128,236 110,180 140,120 126,40' \
  -stroke none \
  -fill "$VIOLET_HI" -draw 'circle 128,50 128,32' -draw 'circle 100,88 100,66' -draw 'circle 154,118 154,94' \
  -draw 'circle 102,158 102,131' -draw 'circle 152,196 152,168' \
  -fill '#ffffff' -draw 'circle 128,50 128,43' -draw 'circle 100,88 100,80' -draw 'circle 154,118 154,109' \
  -draw 'circle 102,158 102,148' -draw 'circle 152,196 152,186' \
  "$work/icon256.png"
for s in 48 32 16; do
  "$IM" "$work/icon256.png" -strip -filter Lanczos -resize "${s}x${s}" "$work/icon$s.png"
done
"$IM" "$work/icon48.png" "$work/icon32.png" "$work/icon16.png" larkspur.ico

echo "artwork written to $(pwd)"
