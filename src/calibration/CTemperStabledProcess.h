#pragma once

#include "StableFpaData.h"

#include <QString>

#include <cstdint>
#include <vector>

// The stabilisation processor: the data directory of the run, the collection number k
// that names the image and the lines of "background_info.dat", and the last image
// mean. Used by the judging loop on its worker thread.
class CTemperStabledProcess {
public:
    // Makes StableFPA/data (emptied first when `clear`) and takes the per-core copy of
    // the template; false, and why, when the directory cannot be made.
    bool setDirectory(const QString& stableDir, bool clear, QString* error);
    QString dataDir() const { return m_data; }
    QString templatePath() const { return m_template; }
    // Copied or kept: the collections are recorded; otherwise images only.
    stablefpa::CopyResult templateCopy() const { return m_copy; }
    bool recording() const
    {
        return m_copy == stablefpa::CopyResult::Copied || m_copy == stablefpa::CopyResult::Kept;
    }
    int infoLines() const { return m_lines; }

    void setCollectionNumber(int k) { m_k = k; }
    int collectionNumber() const { return m_k; }
    // Whether collection k has its two lines in the record (always, without one).
    bool collectionFits() const { return !recording() || stablefpa::fitsInfo(m_k, m_lines); }

    // The average of the frames into "<k>.bin" (written whole); the mean is kept.
    bool averageAndSave(const std::vector<std::vector<uint16_t>>& frames, size_t pixels, QString* error);
    uint16_t lastMean() const { return m_mean; }
    // Lines k + 49 and k + 89 of the record (nothing without one), then k + 1.
    bool record(double temperature, QString* error);

private:
    QString m_data;
    QString m_template;
    stablefpa::CopyResult m_copy = stablefpa::CopyResult::NoTemplate;
    int m_lines = 0;
    int m_k = 0;
    uint16_t m_mean = 0;
};
