# Warnings are errors everywhere in the project; third-party headers come in as SYSTEM.
function(lumo_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Werror -Wshadow -Wimplicit-fallthrough -Wsuggest-override
        -Wno-missing-field-initializers)
    # g++ 12 at -O3 reports overlaps and overflows inside std::string and std::vector that cannot
    # happen (GCC bugs 105329, 105651); they stay visible as warnings but do not fail a release
    # build.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-error=restrict -Wno-error=stringop-overflow)
    endif()
endfunction()
