#pragma once

#include <QString>

#include <cstdint>

// The stabilisation run's files: "<k>.bin" images and the per-core copy of
// "background_info.dat", in which collection k puts its FPA temperature on line k + 49
// and its image mean on line k + 89 (0-based).
namespace stablefpa {

constexpr int kTempLine = 49;
constexpr int kMeanLine = 89;
// Collection numbers whose temperature line stays inside the temperature block.
constexpr int kMaxCollections = kMeanLine - kTempLine; // 40
constexpr int kFramesPerCollection = 32;

QString dataDir(const QString& stableDir);                 // StableFPA/data
QString imageFile(const QString& dataDir, int k);          // <k>.bin
QString infoFile(const QString& dataDir);                  // background_info.dat
// The template: "info/background_info.dat" beside the cores' folders.
QString templateFile(const QString& stableDir);

enum class CopyResult { Copied, Kept, NoTemplate, Failed };
// Copies the template unless a copy is already there (an existing copy is kept).
CopyResult copyTemplate(const QString& templatePath, const QString& target);

// Whether collection k has both its lines in a file of `lines` lines.
bool fitsInfo(int k, int lines);
int infoLineCount(const QString& path); // -1 when it cannot be read

enum class RecordResult { Written, NoFile, OutOfRange, WriteFailed };
// Replaces lines k + 49 and k + 89, keeps every other line, joins with "\n" without a
// newline after the last, and replaces the file whole or not at all.
RecordResult recordCollection(const QString& path, int k, double temperature, int mean);

} // namespace stablefpa
