// SPDX-FileCopyrightText: 2026 The Tessaro installer developers
//
// SPDX-License-Identifier: GPL-2.0-or-later

// Finding the installer's own files: the program's path, upward searches,
// mount points and the mount table, file-system classes and the existence
// checks (0 means yes, 1 means no).
#pragma once

#include <optional>
#include <string>
#include <string_view>

std::string getProgPath(const std::string &progName);
std::optional<std::string> find_file_up(const std::string &start, const std::string &name);
std::optional<std::string> find_dir_up(const char *start, const std::string &name);
std::optional<std::string> get_filename(const std::string &path, const std::string &name);
std::optional<std::string> get_cd_mpoint(const std::string &path);
std::optional<std::string> get_cd_dev(const std::string &path);
std::optional<std::string> get_fs_type(const std::string &path);
int is_isofs(const std::string &path);
int is_nonlocal(const std::string &path);
void do_umount(const std::string &cmd, const std::string &rpmdir);
int check_file(const std::string &path);
int check_file_symlink(const std::string &path);
int check_directory(const std::string &path);

// The matching of one mount-table line, shared by get_cd_dev and
// get_fs_type: the device field, or the field after the match.
std::optional<std::string> mount_line_device(std::string_view line, std::string_view path);
std::optional<std::string> mount_line_fs_type(std::string_view line, std::string_view path);

// A mount-table field with its octal escapes ("\\040" for a blank, ...)
// turned back into the bytes they stand for.
std::string mount_table_unescape(std::string_view field);

// The path that holds the mount table; tests point it elsewhere.
extern const char *mount_table_path;

// Buffer limits of the searches: a candidate longer than this is refused.
inline constexpr std::size_t kFileSearchMax = 4095;
inline constexpr std::size_t kDirSearchMax = 1023;
