#pragma once

#include "base/LogTypes.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class BootLoadProduct;
class MicroprocessorImageInfo;
class Prompter;
class QDomElement;
class QIODevice;
class QWidget;

// Reads zelblprod.xml into one list of products per interface.
//
// Every record it creates is a Qt child of recordParent (the main window),
// whose object name also signs the reader's own log records. A product that
// the catalogue describes badly is dropped whole, and its records are deleted
// at once rather than left behind under recordParent.
class ProductCatalogue : public QObject
{
    Q_OBJECT

public:
    ProductCatalogue(Prompter &prompter, QObject *recordParent, QWidget *dialogParent,
                     QObject *parent = nullptr);
    ~ProductCatalogue() override;

    // Problems are reported to the operator and the log; the lists then hold
    // what could be read (possibly nothing).
    void readProductCatalogue(const QString &path);
    // Said after a catalogue that cannot be opened or parsed: where it was
    // looked for, so the operator knows where to put a good one.
    void setSearchNote(const QString &note) { m_searchNote = note; }
    // The same from an already created device; displayPath names it in messages.
    // A device that is not open yet is opened read-only (and closed again).
    void readProductCatalogue(QIODevice &device, const QString &displayPath);

    // Builds one product from its element and appends it to list. False, with
    // nothing appended, when a processor field the product needs is unusable.
    bool readProduct(int interfaceType, const QDomElement &productElement,
                     QList<BootLoadProduct *> &list);

    const QList<BootLoadProduct *> &usbProducts() const { return m_usbProducts; }
    const QList<BootLoadProduct *> &dmxProducts() const { return m_dmxProducts; }
    const QList<BootLoadProduct *> &ethernetProducts() const { return m_ethernetProducts; }
    // 0 USB, 1 ZELDMX fixtures, 2 Ethernet controllers; empty for any other number.
    QList<BootLoadProduct *> products(int interfaceType) const;
    // The names of the products, of every interface, whose mark an Intel HEX
    // image file carries (BootLoadProduct::imageCarriesMark), in catalogue
    // order per interface.
    QStringList productsMarkedIn(const QByteArray &imageFile) const;

signals:
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);

private:
    // The failure message of the first field that is unusable, or a null
    // string when the processor was read whole.
    QString readProcessor(const QDomElement &processorElement, MicroprocessorImageInfo &info);
    // Tells the operator, and the log, which product was dropped and why.
    void reportDroppedProduct(const QString &failure, const QDomElement &productElement,
                              const QDomElement &processorElement, int processorNumber);
    void readAdvancedBootload(const QDomElement &element, BootLoadProduct &product);
    void logAndAlert(const QString &text);
    QObject *recordParent();
    QString logName() const;

    Prompter &m_prompter;
    QObject *m_recordParent;
    QWidget *m_dialogParent;
    QList<BootLoadProduct *> m_usbProducts;
    QList<BootLoadProduct *> m_dmxProducts;
    QList<BootLoadProduct *> m_ethernetProducts;
    QString m_searchNote;
};
