#include "engine3d/containers.h"

#include <gtest/gtest.h>

#include "engine3d/vector3d.h"

using zorbrix::CArray;
using zorbrix::CList;
using zorbrix::Vector3D;

TEST(CArray, ResizeDropsContentsAndEveryIndexIsChecked) {
    CArray<Vector3D> a;
    EXPECT_THROW(a[0], CArray<Vector3D>::Constraint);
    a.SetSize(3);
    a[1] = Vector3D(1, 2, 3, 4);
    a.SetSize(2);  // elements come back as defaults (0, 0, 0, 1)
    EXPECT_EQ(a[1].x, 0.0);
    EXPECT_EQ(a[1].w, 1.0);
    EXPECT_THROW(a[2], CArray<Vector3D>::Constraint);
    EXPECT_THROW(a[-1], CArray<Vector3D>::Constraint);
    EXPECT_THROW(a.SetSize(-1), CArray<Vector3D>::Constraint);
    EXPECT_EQ(a.GetSize(), 2);  // unchanged by the failed resize

    CArray<Vector3D> b;
    b = a;
    a[0].x = 9;
    EXPECT_EQ(b.GetSize(), 2);
    EXPECT_EQ(b[0].x, 0.0);  // a deep copy
}

TEST(CList, IndexesInInsertionOrderAndCopiesLinearly) {
    CList<int> list;
    list.RemoveAll();  // harmless on an empty list
    list.AddHead(1);
    list.AddHead(2);
    list.AddHead(3);
    EXPECT_EQ(list.GetAt(0), 1);
    EXPECT_EQ(list.GetAt(2), 3);
    EXPECT_THROW(list.GetAt(3), CList<int>::Constraint);
    EXPECT_THROW(list.GetAt(-1), CList<int>::Constraint);

    // The one-pass copy gives what GetAt(i) gives, across several node blocks.
    for (int count : {0, 1, 764}) {
        CList<int> l;
        for (int i = 0; i < count; ++i) l.AddHead(i * 7919 % 1009);
        CArray<int> a;
        a.CopyFrom(l);
        ASSERT_EQ(a.GetSize(), count);
        for (int i = 0; i < count; ++i) ASSERT_EQ(a[i], l.GetAt(i));
    }
}
