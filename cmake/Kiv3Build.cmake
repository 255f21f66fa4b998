# Qt's headers take most of the compiler's time in a source of this project. The libraries
# each precompile those their sources include most; the test programs reuse the headers that
# kiv3_test_headers precompiles. Off, every source parses its headers itself (ccache caches
# sources compiled with precompiled headers only with CCACHE_SLOPPINESS=pch_defines,time_macros).
option(KIV3_PRECOMPILE_HEADERS "Precompile Qt's headers for the libraries and the tests" ON)

# kiv3_precompile_headers(TARGET <Header>...)
function(kiv3_precompile_headers target)
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
