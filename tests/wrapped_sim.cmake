# The tool with the simulator bound at link time (gpakcfg-simulated), run as
# the static ARMv6 build is checked: it programs the NVM in virtual time,
# prints the golden transcript, and its bus trace shows every transfer
# acknowledged and the chip's pauses taken on the simulator's clock. Should
# open, ioctl, close or a sleep miss the simulator, the tool would reach for
# the real bus or really wait.
#
#   cmake -DPROGRAM=gpakcfg-simulated -DEXAMPLE=demo-config.hex -DGOLDEN=nvm-write.out
#         [-DEMULATOR="qemu-arm -cpu arm1176"] [-DWORK_DIR=dir] -P wrapped_sim.cmake
foreach(required PROGRAM EXAMPLE GOLDEN)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "wrapped_sim.cmake needs -D${required}=...")
  endif()
endforeach()
if(NOT DEFINED WORK_DIR)
  set(WORK_DIR "${CMAKE_CURRENT_BINARY_DIR}")
endif()
separate_arguments(emulator UNIX_COMMAND "${EMULATOR}")

set(trace "${WORK_DIR}/wrapped-sim.trace")
file(REMOVE "${trace}")
# Only what this run sets: the variables of a launcher around CTest must not leak in.
foreach(name STATE CODE NACK UNACKED_COMMANDS NO_NODE ABSENT EPOCH)
  unset(ENV{GPAK_SIM_${name}})
endforeach()
set(ENV{GPAK_SIM_VIRTUAL_TIME} 1)
set(ENV{GPAK_SIM_TRACE} "${trace}")

# Run while another process holds flock(2) on /dev/null, as every chip kept
# in a process once did with the bus lock of its run: such runs met one
# another's lock, here or in other build trees, and failed now and then.
# The run's own lock must be its own. (Where /dev/null is held already,
# flock(1) does not wait: the run goes ahead under that holder's lock.)
find_program(flock_program flock)
set(held_elsewhere 99)
set(status ${held_elsewhere})
if(flock_program)
  execute_process(COMMAND "${flock_program}" --nonblock --conflict-exit-code ${held_elsewhere}
      /dev/null ${emulator} "${PROGRAM}" -t nvm -w "${EXAMPLE}"
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
endif()
if("${status}" STREQUAL "${held_elsewhere}")
  execute_process(COMMAND ${emulator} "${PROGRAM}" -t nvm -w "${EXAMPLE}"
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
endif()
file(READ "${GOLDEN}" expected)
set(problems "")
if(NOT status STREQUAL "0")
  string(APPEND problems "exit status ${status}, not 0\n")
endif()
if(NOT err STREQUAL "")
  string(APPEND problems "standard error:\n${err}\n")
endif()
if(NOT out STREQUAL expected)
  string(APPEND problems "standard output differs from ${GOLDEN}:\n${out}\n")
endif()

if(EXISTS "${trace}")
  file(STRINGS "${trace}" lines)
else()
  set(lines "")
endif()
list(LENGTH lines count)
# A chip at 0x08 and none at 0x00, erase 16 pages, reset, write 16 pages,
# reset, read 16 pages.
if(NOT count EQUAL 52)
  string(APPEND problems "${count} transfers traced, not 52\n")
else()
  list(FILTER lines EXCLUDE REGEX " ACK$")
  if(NOT lines MATCHES "^ *0\\.000000 0x00 W 00 NACK$")
    string(APPEND problems "transfers not acknowledged, other than the probe at 0x00:\n${lines}\n")
  endif()
  file(STRINGS "${trace}" last REGEX "^ *2\\.320000 0x0A W f0; 0x0A R 16 ACK$")
  if(NOT last)
    string(APPEND problems "the last read is not at 2.32 s of virtual time\n")
  endif()
endif()

if(problems)
  message(FATAL_ERROR "${PROGRAM}:\n${problems}")
endif()
