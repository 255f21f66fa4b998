# Qt's headers take most of the compiler's time in a source of this project.
# Each target's sources are compiled a few at a time as one (a unity build): a library's
# sources share most of their headers, which are then parsed once a batch. Off, every source
# is compiled alone, as a check that each includes what it uses.
option(KIV3_UNITY_BUILD "Compile each target's sources in batches" ON)
set(CMAKE_UNITY_BUILD ${KIV3_UNITY_BUILD})
# The test programs, one source each, reuse the headers that kiv3_test_headers precompiles.
# Compiled alone, the libraries' sources precompile those they include most; in batches,
# precompiling would cost more than it saves. Off, every source parses its headers itself
# (ccache caches sources compiled with precompiled headers only with
# CCACHE_SLOPPINESS=pch_defines,time_macros).
option(KIV3_PRECOMPILE_HEADERS "Precompile Qt's headers for the tests and the libraries" ON)

# kiv3_precompile_headers(TARGET <Header>...): a library's headers, where its sources are
# compiled alone.
function(kiv3_precompile_headers target)
    if(KIV3_PRECOMPILE_HEADERS AND NOT KIV3_UNITY_BUILD)
        target_precompile_headers(${target} PRIVATE ${ARGN})
    endif()
endfunction()

# kiv3_precompile_shared_headers(TARGET <Header>...): headers that other targets reuse.
function(kiv3_precompile_shared_headers target)
    if(KIV3_PRECOMPILE_HEADERS)
        target_precompile_headers(${target} PRIVATE ${ARGN})
    endif()
endfunction()

# kiv3_reuse_precompiled_headers(TARGET DONOR): TARGET's sources take DONOR's precompiled
# headers, which must therefore depend on no macro that the two targets define differently.
function(kiv3_reuse_precompiled_headers target donor)
    if(KIV3_PRECOMPILE_HEADERS)
        target_precompile_headers(${target} REUSE_FROM ${donor})
    endif()
endfunction()
