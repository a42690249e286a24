cmake_minimum_required(VERSION 3.25)
# A build against the host's own interface (QUORLEX_HOST_SDK_DIR) with warnings as errors, where the
# interface's headers warn as the host's do: a ReferenceCounted with virtual functions and a non-virtual
# destructor, an iterator derived from the deprecated std::iterator. First proves that the header does
# warn under our flags when included as an ordinary header, then that the add-ins still build.
# SOURCE: the project; WORK: a scratch folder; CXX, CC, GENERATOR: the calling build's.
set(interface "${WORK}/interface/include")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${interface}/Core")
# Our stand-in stands for the rest of the interface.
file(WRITE "${interface}/Core/Memory.h" "#pragma once
#include <cstddef>
#include <iterator>
namespace adsk {
namespace core {
class ReferenceCountedAsTheHostDeclaresIt {
public:
  virtual void addref() = 0;
  virtual void release() = 0;
};
class ChildIterator : public std::iterator<std::forward_iterator_tag, int> {};
} // namespace core
} // namespace adsk
")
file(WRITE "${interface}/Core/CoreAll.h" "#pragma once
#include \"Memory.h\"
#include \"${SOURCE}/host/include/Core/CoreAll.h\"
")

file(WRITE "${WORK}/probe.cpp" "#include <Core/CoreAll.h>\nint main() { return 0; }\n")
execute_process(COMMAND "${CXX}" -std=c++17 -Wall -Wextra -Wnon-virtual-dtor -Werror -fsyntax-only
                        -I "${interface}" "${WORK}/probe.cpp"
                RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
if(status EQUAL 0)
  message(FATAL_ERROR "the test interface's header does not warn, so this test proves nothing")
endif()

execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${WORK}/build" -G "${GENERATOR}"
                        "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_C_COMPILER=${CC}" -DCMAKE_BUILD_TYPE=Release
                        "-DQUORLEX_HOST_SDK_DIR=${WORK}/interface" -DQUORLEX_WARNINGS_AS_ERRORS=ON
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring against the test interface failed:\n${output}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${WORK}/build" --target Orvandel Miravelo
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the add-ins do not build against a host interface whose headers warn:\n${output}")
endif()
file(REMOVE_RECURSE "${WORK}")
