/* The settings-file value shapes whose GetPrivateProfileIntW results were taken from Wine 8.0 by
 * tests/tools/wine/profile_probe.c, and which the host stand-in must give alike
 * (tests/unit/profile_test.cpp). Plain C so that both programs include it.
 *
 * PROFILE_CASE(name, encoding, content, section, key, default, expected)
 *   encoding: how the UTF-8 content is stored (PROFILE_BYTES .. PROFILE_FOLDER below)
 *   expected: the UINT that Wine returned */

#define PROFILE_BYTES 0       /* the content bytes as they are */
#define PROFILE_UTF8_BOM 1    /* EF BB BF, then the content */
#define PROFILE_UTF16LE_BOM 2 /* FF FE, then the content as UTF-16 LE */
#define PROFILE_UTF16LE 3     /* the content as UTF-16 LE, no byte-order mark */
#define PROFILE_UTF16BE_BOM 4 /* FE FF, then the content as UTF-16 BE */
#define PROFILE_NO_FILE 5     /* no file at all */
#define PROFILE_FOLDER 6      /* a folder of that name */

#define PROFILE_S "[Setting]\r\n"

#define PROFILE_CASES                                                                              \
    PROFILE_CASE(missing_file, PROFILE_NO_FILE, "", "Setting", "AC", 9, 9)                         \
    PROFILE_CASE(path_is_folder, PROFILE_FOLDER, "", "Setting", "AC", 9, 9)                        \
    PROFILE_CASE(empty_file, PROFILE_BYTES, "", "Setting", "AC", 9, 9)                             \
    PROFILE_CASE(missing_section, PROFILE_BYTES, "[Other]\r\nAC=1\r\n", "Setting", "AC", 9, 9)     \
    PROFILE_CASE(missing_key, PROFILE_BYTES, PROFILE_S "PID=1\r\n", "Setting", "AC", 9, 9)         \
    PROFILE_CASE(missing_key_negative_default, PROFILE_BYTES, PROFILE_S, "Setting", "AC", -1,      \
                 4294967295u)                                                                      \
    PROFILE_CASE(plain_one, PROFILE_BYTES, PROFILE_S "AC=1\r\n", "Setting", "AC", 9, 1)            \
    PROFILE_CASE(plain_zero, PROFILE_BYTES, PROFILE_S "AC=0\r\n", "Setting", "AC", 9, 0)           \
    PROFILE_CASE(empty_value, PROFILE_BYTES, PROFILE_S "AC=\r\n", "Setting", "AC", 9, 9)           \
    PROFILE_CASE(blank_value, PROFILE_BYTES, PROFILE_S "AC=   \r\n", "Setting", "AC", 9, 9)        \
    PROFILE_CASE(leading_blanks, PROFILE_BYTES, PROFILE_S "AC=  5\r\n", "Setting", "AC", 9, 5)     \
    PROFILE_CASE(leading_tab, PROFILE_BYTES, PROFILE_S "AC=\t5\r\n", "Setting", "AC", 9, 5)        \
    PROFILE_CASE(trailing_blanks, PROFILE_BYTES, PROFILE_S "AC=5  \t\r\n", "Setting", "AC", 9, 5)  \
    PROFILE_CASE(blanks_around_equals, PROFILE_BYTES, PROFILE_S "AC = 5\r\n", "Setting", "AC", 9,  \
                 5)                                                                                \
    PROFILE_CASE(tabs_around_equals, PROFILE_BYTES, PROFILE_S "AC\t=\t5\r\n", "Setting", "AC", 9,  \
                 5)                                                                                \
    PROFILE_CASE(blanks_before_key, PROFILE_BYTES, PROFILE_S "   AC=5\r\n", "Setting", "AC", 9, 5) \
    PROFILE_CASE(double_equals, PROFILE_BYTES, PROFILE_S "AC==5\r\n", "Setting", "AC", 9, 0)       \
    PROFILE_CASE(plus_sign, PROFILE_BYTES, PROFILE_S "AC=+1\r\n", "Setting", "AC", 9, 1)           \
    PROFILE_CASE(minus_one, PROFILE_BYTES, PROFILE_S "AC=-1\r\n", "Setting", "AC", 9, 4294967295u) \
    PROFILE_CASE(minus_five, PROFILE_BYTES, PROFILE_S "AC=-5\r\n", "Setting", "AC", 9,             \
                 4294967291u)                                                                      \
    PROFILE_CASE(blank_after_sign, PROFILE_BYTES, PROFILE_S "AC=- 5\r\n", "Setting", "AC", 9, 0)   \
    PROFILE_CASE(two_signs, PROFILE_BYTES, PROFILE_S "AC=+-1\r\n", "Setting", "AC", 9, 0)          \
    PROFILE_CASE(double_minus, PROFILE_BYTES, PROFILE_S "AC=--1\r\n", "Setting", "AC", 9, 0)       \
    PROFILE_CASE(hex_lower, PROFILE_BYTES, PROFILE_S "AC=0x10\r\n", "Setting", "AC", 9, 16)        \
    PROFILE_CASE(hex_upper_x, PROFILE_BYTES, PROFILE_S "AC=0X10\r\n", "Setting", "AC", 9, 0)       \
    PROFILE_CASE(hex_upper_digits, PROFILE_BYTES, PROFILE_S "AC=0xFf\r\n", "Setting", "AC", 9,     \
                 255)                                                                              \
    PROFILE_CASE(hex_no_digits, PROFILE_BYTES, PROFILE_S "AC=0x\r\n", "Setting", "AC", 9, 0)       \
    PROFILE_CASE(hex_bad_digit, PROFILE_BYTES, PROFILE_S "AC=0xg\r\n", "Setting", "AC", 9, 0)      \
    PROFILE_CASE(hex_signed, PROFILE_BYTES, PROFILE_S "AC=-0x10\r\n", "Setting", "AC", 9,          \
                 4294967280u)                                                                      \
    PROFILE_CASE(hex_plus, PROFILE_BYTES, PROFILE_S "AC=+0x1F\r\n", "Setting", "AC", 9, 31)        \
    PROFILE_CASE(hex_max, PROFILE_BYTES, PROFILE_S "AC=0xFFFFFFFF\r\n", "Setting", "AC", 9,        \
                 4294967295u)                                                                      \
    PROFILE_CASE(hex_over, PROFILE_BYTES, PROFILE_S "AC=0x100000001\r\n", "Setting", "AC", 9, 1)   \
    PROFILE_CASE(binary_prefix, PROFILE_BYTES, PROFILE_S "AC=0b101\r\n", "Setting", "AC", 9, 5)    \
    PROFILE_CASE(octal_prefix, PROFILE_BYTES, PROFILE_S "AC=0o17\r\n", "Setting", "AC", 9, 15)     \
    PROFILE_CASE(leading_zero, PROFILE_BYTES, PROFILE_S "AC=010\r\n", "Setting", "AC", 9, 10)      \
    PROFILE_CASE(trailing_junk, PROFILE_BYTES, PROFILE_S "AC=1abc\r\n", "Setting", "AC", 9, 1)     \
    PROFILE_CASE(decimal_point, PROFILE_BYTES, PROFILE_S "AC=1.5\r\n", "Setting", "AC", 9, 1)      \
    PROFILE_CASE(exponent, PROFILE_BYTES, PROFILE_S "AC=1e3\r\n", "Setting", "AC", 9, 1)           \
    PROFILE_CASE(letters, PROFILE_BYTES, PROFILE_S "AC=abc\r\n", "Setting", "AC", 9, 0)            \
    PROFILE_CASE(inner_blank, PROFILE_BYTES, PROFILE_S "AC=1 2\r\n", "Setting", "AC", 9, 1)        \
    PROFILE_CASE(max_uint, PROFILE_BYTES, PROFILE_S "AC=4294967295\r\n", "Setting", "AC", 9,       \
                 4294967295u)                                                                      \
    PROFILE_CASE(above_uint, PROFILE_BYTES, PROFILE_S "AC=4294967296\r\n", "Setting", "AC", 9, 0)  \
    PROFILE_CASE(far_above, PROFILE_BYTES, PROFILE_S "AC=99999999999\r\n", "Setting", "AC", 9,     \
                 1215752191u)                                                                      \
    PROFILE_CASE(int_max, PROFILE_BYTES, PROFILE_S "AC=2147483647\r\n", "Setting", "AC", 9,        \
                 2147483647u)                                                                      \
    PROFILE_CASE(int_max_plus_one, PROFILE_BYTES, PROFILE_S "AC=2147483648\r\n", "Setting", "AC",  \
                 9, 2147483648u)                                                                   \
    PROFILE_CASE(int_min, PROFILE_BYTES, PROFILE_S "AC=-2147483648\r\n", "Setting", "AC", 9,       \
                 2147483648u)                                                                      \
    PROFILE_CASE(below_int_min, PROFILE_BYTES, PROFILE_S "AC=-2147483649\r\n", "Setting", "AC", 9, \
                 2147483647u)                                                                      \
    PROFILE_CASE(many_digits, PROFILE_BYTES, PROFILE_S "AC=000000000000000000007\r\n", "Setting",  \
                 "AC", 9, 7)                                                                       \
    PROFILE_CASE(double_quoted, PROFILE_BYTES, PROFILE_S "AC=\"5\"\r\n", "Setting", "AC", 9, 5)    \
    PROFILE_CASE(double_quoted_blanks, PROFILE_BYTES, PROFILE_S "AC=\" 5\"\r\n", "Setting", "AC",  \
                 9, 5)                                                                             \
    PROFILE_CASE(single_quoted, PROFILE_BYTES, PROFILE_S "AC='5'\r\n", "Setting", "AC", 9, 5)      \
    PROFILE_CASE(quote_unbalanced, PROFILE_BYTES, PROFILE_S "AC=\"5\r\n", "Setting", "AC", 9, 0)   \
    PROFILE_CASE(quotes_mixed, PROFILE_BYTES, PROFILE_S "AC=\"5'\r\n", "Setting", "AC", 9, 0)      \
    PROFILE_CASE(inline_comment, PROFILE_BYTES, PROFILE_S "AC=5;x\r\n", "Setting", "AC", 9, 5)     \
    PROFILE_CASE(inline_comment_first, PROFILE_BYTES, PROFILE_S "AC=;5\r\n", "Setting", "AC", 9,   \
                 0)                                                                                \
    PROFILE_CASE(comment_line, PROFILE_BYTES, PROFILE_S ";AC=3\r\n", "Setting", "AC", 9, 9)        \
    PROFILE_CASE(comment_line_blanks, PROFILE_BYTES, PROFILE_S "  ;AC=3\r\n", "Setting", "AC", 9,  \
                 9)                                                                                \
    PROFILE_CASE(hash_line, PROFILE_BYTES, PROFILE_S "#AC=3\r\n", "Setting", "AC", 9, 9)           \
    PROFILE_CASE(key_lower_case, PROFILE_BYTES, PROFILE_S "ac=7\r\n", "Setting", "AC", 9, 7)       \
    PROFILE_CASE(section_upper_case, PROFILE_BYTES, "[SETTING]\r\nAC=7\r\n", "Setting", "AC", 9,   \
                 7)                                                                                \
    PROFILE_CASE(section_blanks_inside, PROFILE_BYTES, "[ Setting ]\r\nAC=7\r\n", "Setting", "AC", \
                 9, 7)                                                                             \
    PROFILE_CASE(section_leading_blanks, PROFILE_BYTES, "  [Setting]\r\nAC=7\r\n", "Setting",      \
                 "AC", 9, 7)                                                                       \
    PROFILE_CASE(section_trailing_text, PROFILE_BYTES, "[Setting] x\r\nAC=7\r\n", "Setting", "AC", \
                 9, 7)                                                                             \
    PROFILE_CASE(section_unclosed, PROFILE_BYTES, "[Setting\r\nAC=7\r\n", "Setting", "AC", 9, 9)   \
    PROFILE_CASE(section_prefix_only, PROFILE_BYTES, "[Settings]\r\nAC=7\r\n", "Setting", "AC", 9, \
                 9)                                                                                \
    PROFILE_CASE(key_prefix_only, PROFILE_BYTES, PROFILE_S "ACX=7\r\n", "Setting", "AC", 9, 9)     \
    PROFILE_CASE(duplicate_key, PROFILE_BYTES, PROFILE_S "AC=1\r\nAC=2\r\n", "Setting", "AC", 9,   \
                 1)                                                                                \
    PROFILE_CASE(duplicate_section, PROFILE_BYTES,                                                 \
                 PROFILE_S "PID=1\r\n[Other]\r\nB=1\r\n" PROFILE_S "AC=2\r\n", "Setting", "AC", 9, \
                 9)                                                                                \
    PROFILE_CASE(duplicate_section_both, PROFILE_BYTES,                                            \
                 PROFILE_S "AC=1\r\n[Other]\r\n" PROFILE_S "AC=2\r\n", "Setting", "AC", 9, 1)      \
    PROFILE_CASE(key_before_sections, PROFILE_BYTES, "AC=4\r\n" PROFILE_S "PID=1\r\n", "Setting",  \
                 "AC", 9, 9)                                                                       \
    PROFILE_CASE(key_before_sections_nameless, PROFILE_BYTES, "AC=4\r\n" PROFILE_S "PID=1\r\n",    \
                 "", "AC", 9, 4)                                                                   \
    PROFILE_CASE(key_in_later_section, PROFILE_BYTES, PROFILE_S "PID=1\r\n[Other]\r\nAC=1\r\n",    \
                 "Setting", "AC", 9, 9)                                                            \
    PROFILE_CASE(key_without_equals, PROFILE_BYTES, PROFILE_S "AC\r\n", "Setting", "AC", 9, 9)     \
    PROFILE_CASE(blank_key, PROFILE_BYTES, PROFILE_S "=5\r\n", "Setting", "AC", 9, 9)              \
    PROFILE_CASE(lf_only, PROFILE_BYTES, "[Setting]\nPID=1\nAC=5\n", "Setting", "AC", 9, 5)        \
    PROFILE_CASE(cr_only, PROFILE_BYTES, "[Setting]\rPID=1\rAC=5\r", "Setting", "AC", 9, 5)        \
    PROFILE_CASE(no_final_line_end, PROFILE_BYTES, PROFILE_S "AC=5", "Setting", "AC", 9, 5)        \
    PROFILE_CASE(blank_lines, PROFILE_BYTES, "\r\n\r\n" PROFILE_S "\r\n\r\nAC=5\r\n", "Setting",   \
                 "AC", 9, 5)                                                                       \
    PROFILE_CASE(nul_in_value, PROFILE_BYTES,                                                      \
                 PROFILE_S "AC=5\0"                                                                \
                           "7\r\n",                                                                \
                 "Setting", "AC", 9, 5)                                                            \
    PROFILE_CASE(hex_after_blanks, PROFILE_BYTES, PROFILE_S "AC=  0x10\r\n", "Setting", "AC", 9,   \
                 16)                                                                               \
    PROFILE_CASE(hex_junk_after, PROFILE_BYTES, PROFILE_S "AC=0x1g\r\n", "Setting", "AC", 9, 1)    \
    PROFILE_CASE(hex_minus_after_prefix, PROFILE_BYTES, PROFILE_S "AC=0x-1\r\n", "Setting", "AC",  \
                 9, 0)                                                                             \
    PROFILE_CASE(binary_upper, PROFILE_BYTES, PROFILE_S "AC=0B101\r\n", "Setting", "AC", 9, 0)     \
    PROFILE_CASE(binary_bad_digit, PROFILE_BYTES, PROFILE_S "AC=0b12\r\n", "Setting", "AC", 9, 1)  \
    PROFILE_CASE(octal_bad_digit, PROFILE_BYTES, PROFILE_S "AC=0o18\r\n", "Setting", "AC", 9, 1)   \
    PROFILE_CASE(minus_zero, PROFILE_BYTES, PROFILE_S "AC=-0\r\n", "Setting", "AC", 9, 0)          \
    PROFILE_CASE(sign_only, PROFILE_BYTES, PROFILE_S "AC=-\r\n", "Setting", "AC", 9, 0)            \
    PROFILE_CASE(quoted_hex, PROFILE_BYTES, PROFILE_S "AC=\"0x10\"\r\n", "Setting", "AC", 9, 16)   \
    PROFILE_CASE(quoted_empty, PROFILE_BYTES, PROFILE_S "AC=\"\"\r\n", "Setting", "AC", 9, 9)      \
    PROFILE_CASE(quoted_blanks_outside, PROFILE_BYTES, PROFILE_S "AC= \"5\" \r\n", "Setting",      \
                 "AC", 9, 5)                                                                       \
    PROFILE_CASE(quoted_comment_inside, PROFILE_BYTES, PROFILE_S "AC=\"5;x\"\r\n", "Setting",      \
                 "AC", 9, 5)                                                                       \
    PROFILE_CASE(single_quote_char, PROFILE_BYTES, PROFILE_S "AC=\"\r\n", "Setting", "AC", 9, 0)   \
    PROFILE_CASE(inline_comment_blank, PROFILE_BYTES, PROFILE_S "AC=5 ;x\r\n", "Setting", "AC", 9, \
                 5)                                                                                \
    PROFILE_CASE(long_value_29, PROFILE_BYTES, PROFILE_S "AC=00000000000000000000000000007\r\n",   \
                 "Setting", "AC", 9, 7)                                                            \
    PROFILE_CASE(long_value_30, PROFILE_BYTES, PROFILE_S "AC=000000000000000000000000000007\r\n",  \
                 "Setting", "AC", 9, 0)                                                            \
    PROFILE_CASE(long_value_40, PROFILE_BYTES,                                                     \
                 PROFILE_S "AC=0000000000000000000000000000000000000007\r\n", "Setting", "AC", 9,  \
                 0)                                                                                \
    PROFILE_CASE(long_quoted_value, PROFILE_BYTES,                                                 \
                 PROFILE_S "AC=\"000000000000000000000000000007\"\r\n", "Setting", "AC", 9, 0)     \
    PROFILE_CASE(long_value_blanks, PROFILE_BYTES,                                                 \
                 PROFILE_S "AC=7                                      \r\n", "Setting", "AC", 9,   \
                 7)                                                                                \
    PROFILE_CASE(section_two_brackets, PROFILE_BYTES, "[Setting]x]\r\nAC=7\r\n", "Setting", "AC",  \
                 9, 9)                                                                             \
    PROFILE_CASE(section_empty_brackets, PROFILE_BYTES, "[]\r\nAC=7\r\n", "", "AC", 9, 9)          \
    PROFILE_CASE(section_comment_after, PROFILE_BYTES, "[Setting] ;x\r\nAC=7\r\n", "Setting",      \
                 "AC", 9, 7)                                                                       \
    PROFILE_CASE(section_inner_blank_lookup, PROFILE_BYTES, "[Set ting]\r\nAC=7\r\n", "Set ting",  \
                 "AC", 9, 7)                                                                       \
    PROFILE_CASE(key_inner_blank, PROFILE_BYTES, PROFILE_S "A C=7\r\n", "Setting", "A C", 9, 7)    \
    PROFILE_CASE(key_with_semicolon_later, PROFILE_BYTES, PROFILE_S "AC;x=7\r\n", "Setting", "AC", \
                 9, 9)                                                                             \
    PROFILE_CASE(empty_then_filled_key, PROFILE_BYTES, PROFILE_S "AC=\r\nAC=5\r\n", "Setting",     \
                 "AC", 9, 9)                                                                       \
    PROFILE_CASE(valueless_then_filled_key, PROFILE_BYTES, PROFILE_S "AC\r\nAC=5\r\n", "Setting",  \
                 "AC", 9, 9)                                                                       \
    PROFILE_CASE(crlf_inside_cr, PROFILE_BYTES, "[Setting]\r\r\nAC=5\r\r\n", "Setting", "AC", 9,   \
                 5)                                                                                \
    PROFILE_CASE(nul_before_key, PROFILE_BYTES,                                                    \
                 PROFILE_S "\0"                                                                    \
                           "AC=5\r\n",                                                             \
                 "Setting", "AC", 9, 9)                                                            \
    PROFILE_CASE(ctrl_z_end, PROFILE_BYTES, PROFILE_S "AC=5\r\n\x1a", "Setting", "AC", 9, 5)       \
    PROFILE_CASE(latin1_bytes_key, PROFILE_BYTES,                                                  \
                 PROFILE_S "\xe4"                                                                  \
                           "c=5\r\n",                                                              \
                 "Setting",                                                                        \
                 "\xc3\xa4"                                                                        \
                 "c",                                                                              \
                 9, 5)                                                                             \
    PROFILE_CASE(utf8_bom_latin1_key, PROFILE_UTF8_BOM,                                            \
                 PROFILE_S "\xc3\xa4"                                                              \
                           "c=5\r\n",                                                              \
                 "Setting",                                                                        \
                 "\xc3\xa4"                                                                        \
                 "c",                                                                              \
                 9, 5)                                                                             \
    PROFILE_CASE(utf16_latin1_key_same, PROFILE_UTF16LE_BOM,                                       \
                 PROFILE_S "\xc3\xa4"                                                              \
                           "c=5\r\n",                                                              \
                 "Setting",                                                                        \
                 "\xc3\xa4"                                                                        \
                 "c",                                                                              \
                 9, 5)                                                                             \
    PROFILE_CASE(utf16_latin1_section_case, PROFILE_UTF16LE_BOM, "[\xc3\xa4]\r\nAC=5\r\n",         \
                 "\xc3\x84", "AC", 9, 9)                                                           \
    PROFILE_CASE(utf16_nbsp_before_value, PROFILE_UTF16LE_BOM,                                     \
                 PROFILE_S "AC=\xc2\xa0"                                                           \
                           "5\r\n",                                                                \
                 "Setting", "AC", 9, 0)                                                            \
    PROFILE_CASE(vertical_tab_before_value, PROFILE_BYTES, PROFILE_S "AC=\v5\r\n", "Setting",      \
                 "AC", 9, 5)                                                                       \
    PROFILE_CASE(formfeed_in_key_line, PROFILE_BYTES, PROFILE_S "\fAC=5\r\n", "Setting", "AC", 9,  \
                 5)                                                                                \
    PROFILE_CASE(ctrl_char_before_value, PROFILE_BYTES,                                            \
                 PROFILE_S "AC=\x01"                                                               \
                           "5\r\n",                                                                \
                 "Setting", "AC", 9, 5)                                                            \
    PROFILE_CASE(long_quoted_29, PROFILE_BYTES,                                                    \
                 PROFILE_S "AC=\"00000000000000000000000000007\"\r\n", "Setting", "AC", 9, 0)      \
    PROFILE_CASE(long_quoted_28, PROFILE_BYTES,                                                    \
                 PROFILE_S "AC=\"0000000000000000000000000007\"\r\n", "Setting", "AC", 9, 7)       \
    PROFILE_CASE(long_leading_blanks, PROFILE_BYTES,                                               \
                 PROFILE_S "AC=                                  7\r\n", "Setting", "AC", 9, 7)    \
    PROFILE_CASE(nul_then_next_line, PROFILE_BYTES, PROFILE_S "AC=5\0\r\nPID=3\r\n", "Setting",    \
                 "PID", 9, 3)                                                                      \
    PROFILE_CASE(ctrl_char_only, PROFILE_BYTES, PROFILE_S "AC=\x01\r\n", "Setting", "AC", 9, 0)    \
    PROFILE_CASE(section_unclosed_nameless, PROFILE_BYTES, "[Setting\r\nAC=7\r\n", "", "AC", 9, 7) \
    PROFILE_CASE(hash_key_lookup, PROFILE_BYTES, PROFILE_S "#AC=3\r\n", "Setting", "#AC", 9, 3)    \
    PROFILE_CASE(comment_key_lookup, PROFILE_BYTES, PROFILE_S ";AC=3\r\n", "Setting", ";AC", 9, 3) \
    PROFILE_CASE(ctrl_z_inside, PROFILE_BYTES, PROFILE_S "AC=5\x1a\r\n", "Setting", "AC", 9, 5)    \
    PROFILE_CASE(ctrl_z_before_key, PROFILE_BYTES,                                                 \
                 PROFILE_S "\x1a"                                                                  \
                           "AC=5\r\n",                                                             \
                 "Setting", "AC", 9, 5)                                                            \
    PROFILE_CASE(nbsp_after_key, PROFILE_UTF16LE_BOM, PROFILE_S "AC\xc2\xa0=5\r\n", "Setting",     \
                 "AC", 9, 9)                                                                       \
    PROFILE_CASE(cp1252_euro_key, PROFILE_BYTES,                                                   \
                 PROFILE_S "\x80"                                                                  \
                           "=5\r\n",                                                               \
                 "Setting", "\xe2\x82\xac", 9, 5)                                                  \
    PROFILE_CASE(utf16_surrogate_value, PROFILE_UTF16LE_BOM,                                       \
                 PROFILE_S "AC=\xf0\x9f\x98\x80"                                                   \
                           "5\r\n",                                                                \
                 "Setting", "AC", 9, 0)                                                            \
    PROFILE_CASE(invalid_utf8_after_bom, PROFILE_UTF8_BOM, PROFILE_S "AC=5\xff\r\nPID=3\r\n",      \
                 "Setting", "PID", 9, 3)                                                           \
    PROFILE_CASE(section_line_in_value, PROFILE_BYTES, PROFILE_S "AC=[Other]\r\n", "Setting",      \
                 "AC", 9, 0)                                                                       \
    PROFILE_CASE(utf8_bom, PROFILE_UTF8_BOM, PROFILE_S "AC=5\r\n", "Setting", "AC", 9, 5)          \
    PROFILE_CASE(utf8_bom_first_key, PROFILE_UTF8_BOM, "AC=4\r\n" PROFILE_S, "", "AC", 9, 4)       \
    PROFILE_CASE(utf16le_bom, PROFILE_UTF16LE_BOM, PROFILE_S "AC=5\r\n", "Setting", "AC", 9, 5)    \
    PROFILE_CASE(utf16le_no_bom, PROFILE_UTF16LE, PROFILE_S "AC=5\r\n", "Setting", "AC", 9, 9)     \
    PROFILE_CASE(utf16be_bom, PROFILE_UTF16BE_BOM, PROFILE_S "AC=5\r\n", "Setting", "AC", 9, 5)    \
    PROFILE_CASE(utf16_fullwidth_digits, PROFILE_UTF16LE_BOM, PROFILE_S "AC=\xef\xbc\x91\r\n",     \
                 "Setting", "AC", 9, 0)                                                            \
    PROFILE_CASE(utf16_latin1_key_case, PROFILE_UTF16LE_BOM,                                       \
                 PROFILE_S "\xc3\xa4"                                                              \
                           "c=5\r\n",                                                              \
                 "Setting",                                                                        \
                 "\xc3\x84"                                                                        \
                 "C",                                                                              \
                 9, 9)
