# Fixture of the browser tests: installs playwright-core and axe-core from the
# lock file into DIR/node_modules. Chromium is Debian's; no browser is downloaded.
#   cmake -DNPM=<npm> -DDIR=<tests/e2e> -P install.cmake
if(NOT NPM OR NOT DIR)
  message(FATAL_ERROR "install.cmake needs -DNPM=<npm> and -DDIR=<folder with package-lock.json>")
endif()
set(lock ${DIR}/package-lock.json)
set(installed ${DIR}/node_modules/.package-lock.json)
# npm writes its own copy of the lock after an install: nothing to do while it is newer.
if(EXISTS ${installed} AND NOT ${lock} IS_NEWER_THAN ${installed}
   AND EXISTS ${DIR}/node_modules/playwright-core/package.json AND EXISTS ${DIR}/node_modules/axe-core/axe.min.js)
  message(STATUS "playwright-core and axe-core are installed")
  return()
endif()
set(ENV{PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD} 1)
execute_process(COMMAND ${NPM} ci --no-audit --no-fund --prefer-offline
                WORKING_DIRECTORY ${DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "npm ci in ${DIR} failed (${result})")
endif()
