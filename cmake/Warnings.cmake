# Warnings are errors everywhere in the project; third-party headers come in as SYSTEM.
function(lumo_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Werror -Wshadow -Wimplicit-fallthrough -Wsuggest-override
        -Wno-missing-field-initializers)
endfunction()
