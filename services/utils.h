#ifndef KORVELLO_UTILS_H
#define KORVELLO_UTILS_H

#include <QObject>
#include <QString>

// Device services: the device profile set from the command line, the storage
// root of the medium, the device version file and the MD5 operations. Never
// instantiated; everything is static.
class Utils : public QObject
{
    Q_OBJECT
public:
    explicit Utils(QObject *parent = nullptr);
    ~Utils() override;

    static void setSDevType(int type);
    static int getSDevType();
    static void setSDevControlType(int state);
    static int getSDevControlType();

    static QString getDevicePath();
    static bool checkUpgradeDirExists();

    static QString getVerStr();
    static QString ReadVersionFromFile();
    // The same reading of any version file: host tools hand it a copy of a
    // device's file.
    static QString readVersionFromPath(const QString &path);

    static QString calculateFileMD5(const QString &filePath);
    static QString extractMD5FromFile(const QString &md5FilePath);

private:
    static int sDevType;
    static int sDevControlType;
};

#endif
