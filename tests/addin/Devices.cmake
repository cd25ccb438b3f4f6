# The component against simulated readers: devices, reader events and the search methods. Runs
# with a reader-simulator hub beside it (simulated COM ports in the shared prefix, TCP readers and
# discovery responders on 127.0.0.1); the tests use COM40-COM59.
file(GLOB ADDIN_DEVICE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/devices/*.cpp)
if(TARGET parvel_addin AND ADDIN_DEVICE_TEST_SOURCES)
    set(ADDIN_DEVICE_TEST_RC ${CMAKE_CURRENT_SOURCE_DIR}/devices/DeviceTests.rc)
    add_executable(addin_device_tests ${ADDIN_DEVICE_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/TestMain.cpp
                   ${CMAKE_SOURCE_DIR}/tests/support/SimControl.cpp ${ADDIN_DEVICE_TEST_RC}
                   ${CMAKE_SOURCE_DIR}/tests/reader/WindowsComModel.cpp ${CMAKE_SOURCE_DIR}/tests/reader/WindowsModelBackend.cpp)
    target_link_libraries(addin_device_tests PRIVATE parvel_addin gtest ws2_32)
    target_include_directories(addin_device_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_CURRENT_SOURCE_DIR}
                               ${CMAKE_SOURCE_DIR}/tests/reader)
    parvel_resource_script(${ADDIN_DEVICE_TEST_RC} ${PARVEL_ADDIN_RC_INCLUDES})
    add_dependencies(addin_device_tests parvel_messages)
    add_test(NAME addin_devices COMMAND ${PARVEL_GTEST_VERDICT} ${CMAKE_SOURCE_DIR}/tools/with-readersim.sh ${PARVEL_WINEPREFIX}
             ${PARVEL_WINE_RUN} $<TARGET_FILE:addin_device_tests>)
    # One simulator user at a time: the simulated COM ports live in the one shared prefix.
    set_tests_properties(addin_devices PROPERTIES FIXTURES_REQUIRED wineserver TIMEOUT 600 LABELS "wine;sim"
                         RESOURCE_LOCK comports)
    # The same on Windows' serial semantics (tests/reader/WindowsModelBackend.cpp).
    # Alone: the model pumps a pty through a thread of its own, and its time-outs are not made for a
    # machine that runs the GUI suites beside it.
    add_test(NAME addin_devices_winmodel COMMAND ${PARVEL_GTEST_VERDICT} ${CMAKE_SOURCE_DIR}/tools/with-readersim.sh
             ${PARVEL_WINEPREFIX} ${PARVEL_WINE_RUN} $<TARGET_FILE:addin_device_tests>)
    set_tests_properties(addin_devices_winmodel PROPERTIES FIXTURES_REQUIRED wineserver TIMEOUT 600 LABELS "wine;sim"
                         RESOURCE_LOCK comports RUN_SERIAL TRUE ENVIRONMENT "PARVEL_COM_BACKEND=windows-model")
    # A serial open given up on at the connect time-out, told under the Russian locale.
    add_test(NAME addin_devices_russian COMMAND ${PARVEL_GTEST_VERDICT} ${CMAKE_SOURCE_DIR}/tools/with-readersim.sh
             ${PARVEL_WINEPREFIX} ${PARVEL_WINE_RUN} $<TARGET_FILE:addin_device_tests>
             --gtest_filter=SlowDriverTest.DeviceTestOfASlowOpeningPortGivesUpAtTheConnectTimeOut)
    set_tests_properties(addin_devices_russian PROPERTIES FIXTURES_REQUIRED wineserver TIMEOUT 300 LABELS "wine;sim"
                         RESOURCE_LOCK comports ENVIRONMENT "LC_ALL=ru_RU.UTF-8;LANG=ru_RU.UTF-8")
endif()
