# Turns a program's help into a manual page, at build time, so that the page
# says exactly what --help says:
#   cmake -DPROGRAM=<binary> -DNAME=vxlog -DSUMMARY=<one line> -DVERSION=1.0
#         -DOUTPUT=<file.1> [-DSEE_ALSO=<text>] -P HelpToMan.cmake
# The help of PROGRAM --help becomes DESCRIPTION; each command it lists (an
# indented line of one lower-case word) gets its own section from
# PROGRAM COMMAND --help (-DCOMMANDS=ON). -DMORE_FILE=<text file> adds what
# the help does not say (record types, files, examples), in the same layout.
#
# The help's layout is what CommandLine lays out: a line "用法：…", headings
# ending in "：", terms indented by two blanks and their text by six.

function(roff_escape text out)
  string(REPLACE "\\" "\\e" text "${text}")
  # groff finds no place to break a line of Chinese: allow one after each
  # punctuation mark (\: is a break point of no width).
  foreach(mark "，" "。" "；" "、" "）" "：")
    string(REPLACE "${mark}" "${mark}\\:" text "${text}")
  endforeach()
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# A command line given as an example, set apart from the text around it:
# unfilled and indented beyond the text (a term's text, or a paragraph at the
# terms' indent), hyphens as minus signs (so it can be copied).
function(roff_example text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "^([.'])" "\\\\&\\1" text "${text}")
  set(${out} ".RS\n.RS 4\n.EX\n${text}\n.EE\n.RE\n.RE\n" PARENT_SCOPE)
endfunction()

# A term (an option or a command): bold, its hyphens as minus signs.
function(roff_term text out)
  roff_escape("${text}" text)
  string(REPLACE "-" "\\-" text "${text}")
  set(${out} ".TP\n.B ${text}\n" PARENT_SCOPE)
endfunction()

# The help text, its usage line left out, as roff; its headings ("选项：")
# become `heading` ("SS" for a section of its own, "B" for a bold line).
function(help_to_roff help heading out)
  string(REPLACE ";" "<semicolon>" help "${help}")
  string(REPLACE "\n" ";" lines "${help}")
  set(roff "")
  set(examples OFF)
  foreach(line IN LISTS lines)
    string(REPLACE "<semicolon>" ";" line "${line}")
    if(line MATCHES "^用法：")
      continue()
    elseif(line STREQUAL "")
      set(examples OFF)
      string(APPEND roff ".PP\n")
    elseif(line MATCHES "^ *例：(.+)$")
      # "例：vxlog query …" under a command: the label, then the example.
      roff_example("${CMAKE_MATCH_1}" example)
      string(APPEND roff ".br\n例：\n${example}")
    elseif(examples AND line MATCHES "^  ([^ ].*)$")
      # A line of the section 例子: an example of its own.
      roff_example("${CMAKE_MATCH_1}" example)
      string(APPEND roff ".PP\n${example}")
    elseif(line MATCHES "^      +(.*)$")
      roff_escape("${CMAKE_MATCH_1}" text)
      string(APPEND roff "${text}\n")
    elseif(line MATCHES "^  ([^ ]+(, [^ ]+)?)  +(.*)$")
      # A term with its text on the same line: "  --version      显示版本并退出".
      set(description "${CMAKE_MATCH_3}")
      roff_term("${CMAKE_MATCH_1}" text)
      roff_escape("${description}" description)
      string(APPEND roff "${text}${description}\n")
    elseif(line MATCHES "^  (.*)$")
      roff_term("${CMAKE_MATCH_1}" text)
      string(APPEND roff "${text}")
    elseif(line MATCHES "^(.+)：$")
      if(CMAKE_MATCH_1 STREQUAL "例子")
        set(examples ON)
      else()
        set(examples OFF)
      endif()
      roff_escape("${CMAKE_MATCH_1}" text)
      if(heading STREQUAL "SS")
        string(APPEND roff ".SS \"${text}\"\n")
      else()
        string(APPEND roff ".PP\n.B ${text}\n")
      endif()
    else()
      roff_escape("${line}" text)
      string(APPEND roff "${text}\n")
    endif()
  endforeach()
  string(REGEX REPLACE "(\\.PP\n)+" ".PP\n" roff "${roff}")
  set(${out} "${roff}" PARENT_SCOPE)
endfunction()

function(program_help out)
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help
                  OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${ARGN} --help failed: ${status}")
  endif()
  set(${out} "${help}" PARENT_SCOPE)
endfunction()

function(usage_line help out)
  if(help MATCHES "用法：([^\n]*)")
    # Qt's parser names the program by the path it was started by.
    string(REGEX REPLACE "^[^ ]*/" "" text "${CMAKE_MATCH_1}")
    roff_escape("${text}" text)
    string(REPLACE "-" "\\-" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
  else()
    set(${out} "${NAME}" PARENT_SCOPE)
  endif()
endfunction()

string(TOUPPER "${NAME}" title)
program_help(help)
usage_line("${help}" usage)
if(MORE_FILE)
  file(READ "${MORE_FILE}" more)
  string(APPEND help "\n${more}")
endif()
help_to_roff("${help}" SS description)
set(page ".TH ${title} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"\n.ad l\n.nh\n")
string(APPEND page ".SH NAME\n${NAME} \\- ${SUMMARY}\n")
string(APPEND page ".SH SYNOPSIS\n${usage}\n")
string(APPEND page ".SH DESCRIPTION\n${description}")

if(COMMANDS)
  string(REGEX MATCHALL "\n  [a-z]+\n" commands "${help}")
  if(commands)
    string(APPEND page ".SH COMMANDS\n")
  endif()
  foreach(command IN LISTS commands)
    string(STRIP "${command}" command)
    program_help(commandHelp ${command})
    usage_line("${commandHelp}" commandUsage)
    help_to_roff("${commandHelp}" B commandRoff)
    string(APPEND page ".SS \"${NAME} ${command}\"\n${commandUsage}\n${commandRoff}")
  endforeach()
endif()
if(SEE_ALSO)
  string(APPEND page ".SH SEE ALSO\n${SEE_ALSO}\n")
endif()
file(WRITE "${OUTPUT}" "${page}")
