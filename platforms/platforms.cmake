# Platforms: each platforms/NAME/platform.json describes a board. The generator
# (tools/platform/generate.py) turns each into the driver's tables in
# BUILD/platforms/NAME/generated/ and the simulator's files in
# BUILD/platforms/NAME/host/. It runs when CMake configures, so the tables exist
# before anything that includes them is compiled, and the descriptions, the
# generator and the files it reads (the headers, the package's DEC and the
# binary INF's version for the source module) are configure dependencies: a
# change to any of them makes the next build configure, and so generate,
# again. A description the generator refuses stops the build with its message.
#
# Per platform NAME: driver_NAME (the driver's shared routines with NAME's
# tables) and sim_NAME (the simulator with NAME's model built in); `driver`
# and `sim` name the default platform's. Sets PLATFORMS and, per platform,
# PLATFORM_SOURCES_NAME (its generated driver sources), PLATFORM_INCLUDE_DIR_NAME,
# PLATFORM_HOST_DIR_NAME, PLATFORM_BASE_NAME_NAME, PLATFORM_FILE_GUID_NAME and
# PLATFORM_FLASH_BUDGET_NAME (bytes of the compressed image).

file(GLOB platform_descriptions CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platforms/*/platform.json)
file(GLOB generator_sources ${CMAKE_SOURCE_DIR}/tools/platform/*.py)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${platform_descriptions} ${generator_sources} ${CMAKE_SOURCE_DIR}/hw/gpio_pads.h
             ${CMAKE_SOURCE_DIR}/include/smbios_records.h ${CMAKE_SOURCE_DIR}/SlotInventoryPkg.dec
             ${CMAKE_SOURCE_DIR}/platform/SlotInventoryDxe.inf)

set(PLATFORMS)
foreach(description IN LISTS platform_descriptions)
  get_filename_component(platform_dir ${description} DIRECTORY)
  get_filename_component(platform ${platform_dir} NAME)
  set(out ${CMAKE_BINARY_DIR}/platforms/${platform})
  set(image_dir image/${platform})
  if(platform STREQUAL DEFAULT_PLATFORM)
    set(image_dir image)
  endif()
  execute_process(COMMAND python3 ${CMAKE_SOURCE_DIR}/tools/platform/generate.py ${description}
                          --driver ${out}/generated --host ${out}/host --version ${PROJECT_VERSION}
                          --image-dir ${image_dir}
                  RESULT_VARIABLE generated ERROR_VARIABLE problem)
  if(NOT generated EQUAL 0)
    message(FATAL_ERROR "${problem}")
  endif()
  file(READ ${out}/host/summary.json summary)
  string(JSON PLATFORM_BASE_NAME_${platform} GET ${summary} baseName)
  string(JSON PLATFORM_FILE_GUID_${platform} GET ${summary} fileGuid)
  string(JSON PLATFORM_FLASH_BUDGET_${platform} GET ${summary} flashBudget)
  file(GLOB PLATFORM_SOURCES_${platform} ${out}/generated/*.cpp)
  set(PLATFORM_INCLUDE_DIR_${platform} ${out}/generated)
  set(PLATFORM_HOST_DIR_${platform} ${out}/host)
  list(APPEND PLATFORMS ${platform})

  set(driver_library driver_${platform})
  set(sim_library sim_${platform})
  add_library(${driver_library} STATIC ${SHARED_DRIVER_SOURCES} ${PLATFORM_SOURCES_${platform}})
  target_include_directories(${driver_library} PUBLIC ${CMAKE_SOURCE_DIR} ${out}/generated)
  target_compile_options(${driver_library} PRIVATE ${WARNING_FLAGS} ${DRIVER_FLAGS})
  add_library(${sim_library} STATIC $<TARGET_OBJECTS:sim_objects> ${out}/host/platform_model.cpp)
  target_include_directories(${sim_library} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${sim_library} PUBLIC ${driver_library})
  # On the host the driver's hardware seams (the GPIO sideband load) are served by the simulator.
  target_link_libraries(${driver_library} INTERFACE ${sim_library})
endforeach()
if(NOT DEFAULT_PLATFORM IN_LIST PLATFORMS)
  list(JOIN PLATFORMS ", " known)
  message(FATAL_ERROR "DEFAULT_PLATFORM ${DEFAULT_PLATFORM} has no platforms/${DEFAULT_PLATFORM}/platform.json "
                      "(platforms: ${known})")
endif()
add_library(driver ALIAS driver_${DEFAULT_PLATFORM})
add_library(sim ALIAS sim_${DEFAULT_PLATFORM})

# The generator refuses bad descriptions naming the field, and the checked-in
# tables are what the descriptions give now.
add_test(NAME platform_generator_refuses_bad_descriptions_and_tables_are_fresh
         COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/run_unittests.py ${CMAKE_SOURCE_DIR}/tests/unit
                 "test_platform_*.py")
set_tests_properties(platform_generator_refuses_bad_descriptions_and_tables_are_fresh
                     PROPERTIES SKIP_RETURN_CODE 77)
