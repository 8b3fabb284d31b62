# End-to-end test of vekr-volume on a small NIfTI file, run as
#   cmake -DTOOL=<vekr-volume> -DWORK_DIR=<scratch folder> -P end_to_end_test.cmake
# The 8 x 8 x 8 input is written as raw bytes (letters and digits, so a text
# write produces it), turned into NIfTI by the tool itself, and every
# command is run on it. Then real and broken files from make_test_volumes
# (NIfTI-2, big-endian, int32, float64, NaN voxels, truncated data) and
# failing writes.

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

function(fail message)
  message(FATAL_ERROR "vekr-volume end to end: ${message}")
endfunction()

# run(<expected exit code> <args...>): runs the tool, keeps its output in
# OUT and ERR in the caller's scope. With LIMIT set (as "ulimit -f 2"), the
# tool runs after that shell command.
function(run expected)
  if(DEFINED LIMIT)
    # No ';' in the script: it would split the CMake list.
    set(command sh -c "${LIMIT} && exec \"$0\" \"$@\"" "${TOOL}")
  else()
    set(command "${TOOL}")
  endif()
  execute_process(COMMAND ${command} ${ARGN} WORKING_DIRECTORY "${WORK_DIR}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected)
    fail("'vekr-volume ${ARGN}' exited with ${rc}, expected ${expected}\n${out}\n${err}")
  endif()
  set(OUT "${out}" PARENT_SCOPE)
  set(ERR "${err}" PARENT_SCOPE)
endfunction()

# hex_of(<var> <file> [OFFSET n] [LIMIT n])
function(hex_of var path)
  file(READ "${WORK_DIR}/${path}" h HEX ${ARGN})
  set(${var} "${h}" PARENT_SCOPE)
endfunction()

# A NIfTI-1 single file: 348-byte header, magic "n+1", 352 bytes before the
# voxels; dims as int16 at byte 40, datatype at byte 70.
function(expect_nifti path dims_hex datatype_hex)
  hex_of(size "${path}" LIMIT 4)
  hex_of(magic "${path}" OFFSET 344 LIMIT 4)
  hex_of(dims "${path}" OFFSET 40 LIMIT 8)
  hex_of(dtype "${path}" OFFSET 70 LIMIT 2)
  if(NOT size STREQUAL "5c010000" OR NOT magic STREQUAL "6e2b3100")
    fail("${path} is not a NIfTI-1 file (${size} ${magic})")
  endif()
  if(NOT dims STREQUAL "${dims_hex}" OR NOT dtype STREQUAL "${datatype_hex}")
    fail("${path}: dims ${dims}, datatype ${dtype}; expected ${dims_hex}, ${datatype_hex}")
  endif()
endfunction()

set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
set(voxels "")
foreach(i RANGE 511)
  math(EXPR k "(${i} * 13 + ${i} / 8) % 62")
  string(SUBSTRING "${alphabet}" ${k} 1 c)
  string(APPEND voxels "${c}")
endforeach()
file(WRITE "${WORK_DIR}/input.raw" "${voxels}")

# Raw in, NIfTI out: the identity warp in nearest mode copies the voxels.
run(0 warp --raw 8x8x8:u8 --matrix 1,0,0,0,0,1,0,0,0,0,1,0 -i nearest -q input.raw volume.nii)
expect_nifti(volume.nii "0300080008000800" "0200")
hex_of(copied volume.nii OFFSET 352)
hex_of(original input.raw)
if(NOT copied STREQUAL original)
  fail("the identity warp changed the voxels")
endif()

# Warp by rotation and scale into a larger grid, as float, with a preview.
run(0 warp --rotate 0,0,30 --scale 1.2 --size 10x9x8 -i catmull-rom --type f32 --preview preview.png -q
    volume.nii rotated.nii.gz)
if(NOT EXISTS "${WORK_DIR}/rotated.nii.gz")
  fail("no compressed output written")
endif()
hex_of(png preview.png LIMIT 8)
if(NOT png STREQUAL "89504e470d0a1a0a")
  fail("the preview is not a PNG")
endif()
run(0 warp --matrix 1,0,0,0,0,1,0,0,0,0,1,0 -i nearest -q rotated.nii.gz rotated_copy.nii)
expect_nifti(rotated_copy.nii "03000a0009000800" "1000")

# Remap through maps that shift every axis by one voxel: output (i, j, k)
# takes input (i + 1, j + 1, k + 1); the last voxel of each axis maps
# outside and gets the fill value 0. Maps are raw bytes 1 to 8, read as u8.
foreach(axis x y z)
  set(map "")
  foreach(i RANGE 511)
    math(EXPR x "${i} % 8")
    math(EXPR y "(${i} / 8) % 8")
    math(EXPR z "${i} / 64")
    math(EXPR code "${${axis}} + 1")
    string(ASCII ${code} c)
    string(APPEND map "${c}")
  endforeach()
  file(WRITE "${WORK_DIR}/map_${axis}.raw" "${map}")
endforeach()
run(0 remap --maps map_x.raw,map_y.raw,map_z.raw --map-raw 8x8x8:u8 -i nearest -q volume.nii shifted.nii)
expect_nifti(shifted.nii "0300080008000800" "0200")
set(expected "")
foreach(i RANGE 511)
  math(EXPR x "${i} % 8")
  math(EXPR y "(${i} / 8) % 8")
  math(EXPR z "${i} / 64")
  if(x EQUAL 7 OR y EQUAL 7 OR z EQUAL 7)
    string(APPEND expected "00")
  else()
    math(EXPR j "${i} + 1 + 8 + 64")
    math(EXPR k "(${j} * 13 + ${j} / 8) % 62")
    string(SUBSTRING "${alphabet}" ${k} 1 c)
    string(HEX "${c}" h)
    string(APPEND expected "${h}")
  endif()
endforeach()
hex_of(shifted shifted.nii OFFSET 352)
if(NOT shifted STREQUAL expected)
  fail("remap did not shift the volume by one voxel")
endif()

# Resize: doubling in linear mode, and factor 1 in nearest mode, which
# copies.
run(0 resize --factor 2 -q volume.nii double.nii)
expect_nifti(double.nii "0300100010001000" "0200")
run(0 resize --factor 1 -i nearest -q volume.nii same.nii)
hex_of(same same.nii OFFSET 352)
if(NOT same STREQUAL original)
  fail("a resize by 1 changed the voxels")
endif()
run(0 resize --size 4x5x6 -i catmull-rom --type f32 -q volume.nii small.nii)
expect_nifti(small.nii "0300040005000600" "1000")
run(2 resize volume.nii out.nii)

# Filters: a named kernel, and a 1 x 1 x 1 kernel file that copies, written
# back as raw voxels identical to the input.
run(0 filter --kernel binomial3 -q volume.nii smooth.nii)
expect_nifti(smooth.nii "0300080008000800" "0200")
file(WRITE "${WORK_DIR}/unit.txt" "# one coefficient\n1 1 1\n1\n")
run(0 filter --kernel-file unit.txt -q volume.nii back.raw)
hex_of(back back.raw)
if(NOT back STREQUAL original)
  fail("the unit kernel did not reproduce the input")
endif()

# Help, version and errors.
run(0 --help)
if(NOT OUT MATCHES "Usage: vekr-volume COMMAND")
  fail("--help printed no usage")
endif()
run(0 warp --help)
if(NOT OUT MATCHES "--rotate")
  fail("warp --help does not describe --rotate")
endif()
run(0 --version)
run(2 spin volume.nii out.nii)
run(2 warp -i cubic volume.nii out.nii)
run(2 filter volume.nii out.nii)
run(1 warp missing.nii out.nii)
if(NOT ERR MATCHES "missing.nii")
  fail("the error does not name the missing file: ${ERR}")
endif()
run(1 warp --raw 9x8x8:u8 input.raw out.nii)
run(1 warp --matrix 0,1,0,0,0,0,1,0,1,0,0,0 volume.nii out.nii)
if(NOT ERR MATCHES "degenerate")
  fail("a degenerate transform is not reported as such: ${ERR}")
endif()

# ---------------------------------------------------------------- real and broken files

# expect_failure(<exit code> <regex> <args...>): the run fails with that
# code and says so once: one line matching regex (plus the pointer to --help
# for a command-line mistake), nothing from the libraries beside it, and no
# file created, changed or left half-written in the folder.
function(expect_failure code regex)
  file(GLOB_RECURSE before LIST_DIRECTORIES true "${WORK_DIR}/*")
  set(stamps "")
  foreach(f ${before})
    if(NOT IS_DIRECTORY "${f}")
      file(SHA256 "${f}" h)
      list(APPEND stamps "${f}=${h}")
    endif()
  endforeach()
  run(${code} ${ARGN})
  string(REGEX MATCHALL "\n" breaks "${ERR}")
  list(LENGTH breaks lines)
  set(expected_lines 1)
  if(code EQUAL 2)
    set(expected_lines 2)
  endif()
  if(NOT lines EQUAL expected_lines OR NOT ERR MATCHES "${regex}")
    fail("'vekr-volume ${ARGN}' should say '${regex}' in ${expected_lines} line(s), said:\n${ERR}")
  endif()
  file(GLOB_RECURSE after LIST_DIRECTORIES true "${WORK_DIR}/*")
  set(stamps_after "")
  foreach(f ${after})
    if(NOT IS_DIRECTORY "${f}")
      file(SHA256 "${f}" h)
      list(APPEND stamps_after "${f}=${h}")
    endif()
  endforeach()
  if(NOT stamps STREQUAL stamps_after)
    fail("'vekr-volume ${ARGN}' changed the folder:\nbefore ${stamps}\nafter ${stamps_after}")
  endif()
endfunction()

function(expect_same_file a b)
  file(SHA256 "${WORK_DIR}/${a}" ha)
  file(SHA256 "${WORK_DIR}/${b}" hb)
  if(NOT ha STREQUAL hb)
    hex_of(xa "${a}")
    hex_of(xb "${b}")
    fail("${a} differs from ${b}:\n${xa}\n${xb}")
  endif()
endfunction()

execute_process(COMMAND "${MAKE_VOLUMES}" "${WORK_DIR}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("make_test_volumes failed")
endif()

# Readable files of every kind come back voxel for voxel through a nearest
# resize by 1 (which copies), as raw voxels of the input's own type: NaN and
# infinities kept, int32 and float64 not narrowed, big-endian voxels
# swapped, NIfTI-2 read.
foreach(name specials int32 float64 big_endian nifti2)
  run(0 resize --factor 1 -i nearest -q ${name}.nii ${name}_copy.raw)
  expect_same_file(${name}_copy.raw ${name}.raw)
endforeach()
run(0 warp --scale 1 -i nearest -q specials.nii specials_warped.raw)
expect_same_file(specials_warped.raw specials.raw)
# A NaN fill marks the voxels of a float volume that no input voxel reaches.
run(0 warp --scale 0.5 --fill nan -i nearest -q specials.nii specials_filled.raw)
hex_of(filled specials_filled.raw LIMIT 4)
if(NOT filled STREQUAL "0000c07f")
  fail("the corner of a shrunk float volume is ${filled}, not the NaN fill")
endif()
# NIfTI outputs keep the input's type: int32 (8) and float64 (64).
run(0 resize --factor 2 -q int32.nii int32_double.nii)
expect_nifti(int32_double.nii "0300060008000a00" "0800")
run(0 resize --factor 2 -q float64.nii float64_double.nii)
expect_nifti(float64_double.nii "0300060008000a00" "4000")

# Extents beyond NIfTI-1's 16-bit dimensions are written as NIfTI-2 and
# read back; 32767 still fits NIfTI-1.
run(0 resize --size 32767x1x1 -i nearest -q volume.nii widest1.nii)
expect_nifti(widest1.nii "0300ff7f01000100" "0200")
run(0 resize --size 70000x1x1 -i nearest -q volume.nii wide.nii)
hex_of(head wide.nii LIMIT 12)
hex_of(dims wide.nii OFFSET 16 LIMIT 32)
if(NOT head STREQUAL "1c0200006e2b32000d0a1a0a" OR
   NOT dims STREQUAL "0300000000000000701101000000000001000000000000000100000000000000")
  fail("a 70000 x 1 x 1 output is not NIfTI-2 with that extent: ${head} ${dims}")
endif()
run(0 warp --scale 1 -i nearest -q wide.nii wide.raw)
file(SIZE "${WORK_DIR}/wide.raw" wide_bytes)
if(NOT wide_bytes EQUAL 70000)
  fail("the NIfTI-2 output read back as ${wide_bytes} voxels, not 70000")
endif()

# Going back to the input's integer type after resampling rounds as a
# matter of course: no note about it.
run(0 warp --scale 1 --type s16 -q volume.nii volume16.nii)
run(0 resize --factor 1.5 -q volume16.nii volume16_larger.nii)
if(NOT ERR STREQUAL "")
  fail("a resize of an s16 volume printed: ${ERR}")
endif()

# The preview has a size of its own, 768 pixels on the longer side unless
# --preview-size says otherwise.
function(expect_preview_width path low high)
  hex_of(w "${path}" OFFSET 16 LIMIT 4)
  math(EXPR w "0x${w}")
  if(w LESS low OR w GREATER high)
    fail("${path} is ${w} pixels wide, expected ${low} to ${high}")
  endif()
endfunction()
run(0 warp --scale 1 --preview preview_default.png -q volume.nii preview_volume.nii)
expect_preview_width(preview_default.png 760 768)
run(0 warp --scale 1 --preview preview_small.png --preview-size 100 -q volume.nii preview_volume.nii)
expect_preview_width(preview_small.png 92 100)

# Help that says what the code does.
run(0 resize --help)
if(NOT OUT MATCHES "\\(d \\+ 0\\.5\\) / F - 0\\.5 - SHIFT / F")
  fail("resize --help gives the wrong source position:\n${OUT}")
endif()
if(NOT OUT MATCHES "1 to the processors available")
  fail("--help does not give the thread limit")
endif()

# A thread count from the environment beyond the processors is held to
# them, as --threads is (65535 made the resize's scratch size wrap).
set(LIMIT "export OMP_NUM_THREADS=65535")
run(0 resize --factor 4 -i catmull-rom -q volume.nii many_threads.nii)
unset(LIMIT)

# Failures, one message each, nothing left behind.
expect_failure(2 "--threads takes 1 to" -t 100000 resize --factor 2 volume.nii out.nii)
expect_failure(2 "--threads takes 1 to" -t 0 resize --factor 2 volume.nii out.nii)
expect_failure(1 "too large" resize --factor 1e6 volume.nii out.nii)
expect_failure(1 "too large|memory" resize --size 70000x70000x70000 volume.nii out.nii)
expect_failure(1 "too large|memory" warp --size 2000000000x2000000000x1 volume.nii out.nii)
expect_failure(1 "truncated" resize --factor 1 truncated.nii out.nii)
expect_failure(1 "truncated" resize --factor 1 truncated.nii.gz out.nii)
expect_failure(1 "not a NIfTI" resize --factor 1 not_a_volume.nii out.nii)
expect_failure(1 "needs 576" warp --raw 9x8x8:u8 input.raw out.nii)
expect_failure(2 "finite" resize --factor nan volume.nii out.nii)
expect_failure(2 "finite" resize --factor 2 --shift 0,inf,0 volume.nii out.nii)
expect_failure(2 "finite" warp --matrix 1,0,0,nan,0,1,0,0,0,0,1,0 volume.nii out.nii)
expect_failure(2 "finite" warp --scale inf volume.nii out.nii)
expect_failure(2 "finite" warp --fill nan volume.nii out.nii)
expect_failure(2 "unknown voxel type" resize --factor 2 --type foo volume.nii out.nii)
expect_failure(2 "unknown voxel type" warp --raw 8x8x8:q7 input.raw out.nii)
expect_failure(1 "No such file" resize --factor 2 volume.nii no_such_folder/out.nii)
expect_failure(1 "No space left" resize --factor 2 --preview /dev/full volume.nii out.nii)
expect_failure(1 "No space left" resize --factor 2 volume.nii /dev/full)
file(WRITE "${WORK_DIR}/existing.nii" "an older file that a failed run must leave alone\n")
set(LIMIT "ulimit -f 2")
expect_failure(1 "File too large" resize --factor 4 volume.nii existing.nii)
expect_failure(1 "File too large" resize --factor 4 volume.nii out.nii)
expect_failure(1 "File too large" resize --factor 4 volume.nii out.nii.gz)
expect_failure(1 "File too large" resize --factor 4 volume.nii out.hdr)
expect_failure(1 "File too large" warp --scale 1 --preview big_preview.png volume.nii out.raw)
if(NOT SANITIZED)
  # Address-space limits and the sanitizers' shadow memory do not mix.
  set(LIMIT "ulimit -v 400000")
  expect_failure(1 "out of memory" resize --size 800x800x800 volume.nii out.nii)
endif()
unset(LIMIT)
