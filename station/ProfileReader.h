#pragma once
// Reading a station's profile: each problem kept with its place in the file,
// unknown keys named, values of the wrong type refused, paths taken from the
// profile's folder.
#include "station/StationProfile.h"
#include <QStringList>
#include <toml++/toml.h>

class ProfileReader {
public:
    ProfileReader(ProfileReading &reading, const QString &folder) : r_(reading), folder_(folder) {}

    void problem(ProfileProblem::Kind kind, const QString &text, const toml::source_region &at = {});
    // Each key of `table` that is not in `known` is a problem.
    void onlyKnown(const toml::table &table, const QString &where, const QStringList &known);
    // The table at `key`, or none; a value of another type is a problem.
    const toml::table *table(const toml::table &in, const char *key, const QString &where);
    // A string at `key`, or empty; a value of another type is a problem.
    QString text(const toml::table &in, const char *key, const QString &where, toml::source_region *at = nullptr);
    // A path of the profile, from the profile's folder.
    QString absolute(const QString &path) const;

private:
    ProfileReading &r_;
    QString folder_;
};
