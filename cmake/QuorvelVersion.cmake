# Quorvel's version as users and installers see it, made from the one version of project().
#
# quorvel_release_names(<major.minor.patch.tweak> <release-var> <msi-var>)
#   release: what users read and the release files are named by. 1.0.0.N with N below 10,
#     known to users as "1.0N", keeps that short name; any other version is named by all
#     four parts. No two versions share a name.
#   msi: the installers' version, major.minor.build, the three parts Windows Installer
#     compares: build is patch x 1000 + tweak, so that every part counts and a later
#     version is always the higher one.
function(quorvel_release_names version release_var msi_var)
  if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "Quorvel's version has four numbers: ${version}")
  endif()
  set(major ${CMAKE_MATCH_1})
  set(minor ${CMAKE_MATCH_2})
  set(patch ${CMAKE_MATCH_3})
  set(tweak ${CMAKE_MATCH_4})
  if(major GREATER 255 OR minor GREATER 255 OR patch GREATER 64 OR tweak GREATER 999)
    message(FATAL_ERROR "Windows Installer cannot number ${version}: at most 255.255.64.999")
  endif()
  if(patch EQUAL 0 AND minor LESS 10 AND tweak LESS 10)
    set(release "${major}.${minor}${tweak}")
  else()
    set(release "${major}.${minor}.${patch}.${tweak}")
  endif()
  math(EXPR build "${patch} * 1000 + ${tweak}")
  set(${release_var} "${release}" PARENT_SCOPE)
  set(${msi_var} "${major}.${minor}.${build}" PARENT_SCOPE)
endfunction()
