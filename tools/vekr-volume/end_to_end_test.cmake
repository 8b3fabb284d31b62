# End-to-end test of vekr-volume on a small NIfTI file, run as
#   cmake -DTOOL=<vekr-volume> -DWORK_DIR=<scratch folder> -P end_to_end_test.cmake
# The 8 x 8 x 8 input is written as raw bytes (letters and digits, so a text
# write produces it), turned into NIfTI by the tool itself, and every
# command is run on it.

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

function(fail message)
  message(FATAL_ERROR "vekr-volume end to end: ${message}")
endfunction()

# run(<expected exit code> <args...>): runs the tool, keeps its output in
# OUT and ERR in the caller's scope.
function(run expected)
  execute_process(COMMAND "${TOOL}" ${ARGN} WORKING_DIRECTORY "${WORK_DIR}"
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
