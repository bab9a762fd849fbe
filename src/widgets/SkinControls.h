#pragma once

// The program's controls are the standard Qt widgets drawn by the program's style
// sheet (resources/irbench.qss); these names keep the widget vocabulary of the pages.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>

using TextLabel = QLabel;
using QCheckBoxEx = QCheckBox;
using QComboBoxEx = QComboBox;
using QDoubleSpinBoxEx = QDoubleSpinBox;
using QLineEditEx = QLineEdit;
using QMenuEx = QMenu;
using QMenuBarEx = QMenuBar;
using QRadioButtonEx = QRadioButton;
using QGroupBoxEx = QGroupBox;
using QListWidgetEx = QListWidget;
using QProgressBarEx = QProgressBar;
using QTableWidgetEx = QTableWidget;
