# The program's icon: a few overlapping squares like the show's logo stack,
# added together on a dark ground. One drawing on a 32-pixel grid, made with
# ImageMagick; the Windows icon (shell/win32.cmake) and the desktop icons
# (cmake/install.cmake) both come from it.

# Sets out_var to ImageMagick arguments that draw the icon at `scale` pixels
# per grid pixel (a whole number): 1 for the 32-pixel drawing, 8 for 256.
function(quenrik_icon_drawing scale out_var)
  set(ground "#0c0c14")
  # Each square: colour, its first and last pixel on the grid (both axes),
  # its turn in degrees about the icon's centre.
  set(squares
    "#b03a10 7 24 18"
    "#1a48b0 9 22 -24"
    "#606060 12 19 40")
  math(EXPR side "32 * ${scale}")
  set(args -size ${side}x${side} "xc:${ground}")
  foreach(square IN LISTS squares)
    string(REPLACE " " ";" fields "${square}")
    list(GET fields 0 colour)
    list(GET fields 1 first)
    list(GET fields 2 last)
    list(GET fields 3 turn)
    math(EXPR from "${first} * ${scale}")
    math(EXPR to "(${last} + 1) * ${scale} - 1")
    list(APPEND args
      "(" -size ${side}x${side} xc:none -fill "${colour}" -draw "rectangle ${from},${from} ${to},${to}"
          -distort SRT ${turn} ")"
      -compose plus -composite)
  endforeach()
  set(${out_var} ${args} PARENT_SCOPE)
endfunction()
